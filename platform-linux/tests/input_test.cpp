#include "platform-linux/input.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform-linux/keymap.hpp"
#include "platform-linux/tests/event_probe.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Xlib last: its macros (None, Bool, Status) clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#undef None  // a scroll phase here

namespace mirravale::platform {
namespace {

using core::input::Button;
using core::input::Key;
using core::input::MoveTo;
using core::input::Scroll;
using core::input::Text;
using ::testing::ElementsAre;
using testing::EventProbe;
using testing::ProbeEvent;
using wire::MouseButton;
using wire::ScrollPhase;

TEST(KeyTable, MapsVirtualKeysToKeysyms) {
    const std::pair<std::uint16_t, std::optional<Keysym>> cases[] = {
        {0, XK_a},          {36, XK_Return},    {48, XK_Tab},       {56, XK_Shift_L},
        {54, XK_Super_R},   {57, XK_Caps_Lock}, {82, XK_KP_0},      {105, XK_F13},
        {117, XK_Delete},   {126, XK_Up},       {63, std::nullopt},  // function: no X key
        {52, std::nullopt},                                          // not a key
    };
    for (const auto& [keycode, sym] : cases) {
        EXPECT_EQ(keysym_for_key(keycode), sym) << keycode;
    }
    EXPECT_EQ(
        parse_key_table("mac_vk\tx\ty\tz\tkeysym_hex\n7\t\t\t\t0x78\nbad line\n9\t\t\t\t0xZZ"),
        (std::unordered_map<std::uint16_t, Keysym>{{7, 0x78}}));
}

TEST(TextPlan, ChunksAndKeys) {
    using Steps = std::vector<TextStep>;
    const std::u32string x19(19, U'x');
    const std::pair<std::string, Steps> cases[] = {
        {"", {}},
        {std::string(45, 'a'),
         {std::u32string(20, U'a'), std::u32string(20, U'a'), std::u32string(5, U'a')}},
        {"a\tb", {U"a", TAB_KEY, U"b"}},
        {"a\nb\rc\r\nd", {U"a", RETURN_KEY, U"b", RETURN_KEY, U"c", RETURN_KEY, U"d"}},
        {"\n\n", {RETURN_KEY, RETURN_KEY}},
        // A character outside the basic plane takes two units and is never split.
        {std::string(19, 'x') + "\xF0\x9F\x98\x80", {x19, U"\U0001F600"}},
        {std::string(18, 'x') + "\xF0\x9F\x98\x80", {x19.substr(1) + U"\U0001F600"}},
        {"\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5", {U"é€日"}},
        // Control characters type nothing; malformed bytes type a replacement character.
        {"a\x1b\x7f"
         "b",
         {U"ab"}},
        {"a\xFF\xC3"
         "b",
         {U"a\uFFFD\uFFFDb"}},
        {"\xED\xA0\x80", {U"\uFFFD\uFFFD\uFFFD"}},  // an encoded surrogate
    };
    for (const auto& [text, steps] : cases) {
        EXPECT_EQ(plan_text(text), steps) << text;
    }
}

TEST(TextPlan, KeysymsOfCharacters) {
    EXPECT_EQ(keysym_for_char(U'a'), XK_a);
    EXPECT_EQ(keysym_for_char(U'é'), XK_eacute);
    EXPECT_EQ(keysym_for_char(U'€'), 0x010020acu);
    EXPECT_EQ(keysym_for_char(U'\U0001F600'), 0x0101f600u);
}

TEST(Wheel, ClicksCarryRemaindersPerPhase) {
    struct Case {
        double amount, remainder;
        bool ended;
        int clicks;
        double rest;
    };
    const Case cases[] = {
        {36, 0, false, 0, 36},
        {36, 36, false, 1, 12},
        {-90, 0, false, -1, -30},
        {50, 10, true, 1, 0},
        {30, 0, true, 0, 0},
        {-30, 20, false, 0, -10},
        {1e12, 0, false, MAX_WHEEL_CLICKS, 0},
        {-1e30, 5, false, -MAX_WHEEL_CLICKS, 0},
        {NAN, 12, false, 0, 12},
        {INFINITY, 0, false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto step = wheel_step(c.amount, c.remainder, c.ended);
        EXPECT_EQ(step.clicks, c.clicks) << c.amount << " + " << c.remainder;
        EXPECT_DOUBLE_EQ(step.remainder, c.rest) << c.amount << " + " << c.remainder;
    }
}

TEST(SparePool, ReusesTheLeastRecentlyUsedFreeKeycode) {
    SparePool pool({10, 11, 12});
    EXPECT_EQ(pool.bind('a'), 10);
    EXPECT_EQ(pool.bind('b'), 11);
    EXPECT_EQ(pool.bind('c'), 12);
    EXPECT_EQ(pool.find('a'), 10);  // now the most recent
    EXPECT_EQ(pool.bind('d'), 11);  // b was the oldest
    EXPECT_EQ(pool.find('b'), std::nullopt);
    pool.pin(12);
    EXPECT_EQ(pool.bind('e', {10, 11}), std::nullopt);  // c is held down, a and d are kept
    pool.unpin(12);
    EXPECT_EQ(pool.bind('e', {10, 11}), 12);
    EXPECT_EQ(pool.bound_to(12), Keysym{'e'});
    EXPECT_THAT(pool.take_bound(), ElementsAre(10, 11, 12));
    EXPECT_EQ(pool.find('a'), std::nullopt);
    EXPECT_TRUE(pool.take_bound().empty());
}

class X11InputTest : public testing::XvfbTest {
  protected:
    void SetUp() override {
        testing::XvfbTest::SetUp();
        auto input = X11Input::open(server().display());
        ASSERT_TRUE(input) << input.error();
        input_ = std::move(*input);
        auto probe = EventProbe::open(server().display(), 0, 0, 3840, 1080);
        ASSERT_TRUE(probe) << probe.error();
        probe_ = std::move(*probe);
        keymap_before_ = keymap();
    }
    void TearDown() override {
        if (input_) {
            input_->release_all();
            EXPECT_EQ(keymap(), keymap_before_) << "the keyboard map was left changed";
        }
        input_.reset();
        probe_.reset();
    }

    void inject(std::initializer_list<core::InputEvent> events) {
        for (const auto& e : events) {
            input_->inject(e);
        }
    }
    std::vector<KeySym> keymap() {
        Display* d = XOpenDisplay(server().display().c_str());
        int min, max, per;
        XDisplayKeycodes(d, &min, &max);
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per);
        std::vector<KeySym> copy(syms, syms + per * (max - min + 1));
        XFree(syms);
        XCloseDisplay(d);
        return copy;
    }
    // Waits until the window has received everything injected so far, then forgets it all.
    void settle() {
        const int x = (settles_++ % 2 == 0) ? 3839 : 3838;
        inject({MoveTo{static_cast<double>(x), 1079}});
        probe_->wait_until([&](const std::vector<ProbeEvent>& events) {
            return !events.empty() && events.back().type == MotionNotify && events.back().x == x &&
                   events.back().y == 1079;
        });
        probe_->clear();
    }
    static std::vector<ProbeEvent> only(const std::vector<ProbeEvent>& events, int type) {
        std::vector<ProbeEvent> out;
        std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                     [&](const ProbeEvent& e) { return e.type == type; });
        return out;
    }

    std::unique_ptr<X11Input> input_;
    std::unique_ptr<EventProbe> probe_;
    std::vector<KeySym> keymap_before_;
    int settles_ = 0;
};

TEST_F(X11InputTest, MovesAndDragsWithEachButton) {
    inject({MoveTo{100.7, 200.2}});
    auto events = probe_->wait_for(MotionNotify, 1);
    EXPECT_EQ(events.back().x, 100);
    EXPECT_EQ(events.back().y, 200);
    EXPECT_EQ(input_->cursor_position(), (core::Point{100, 200}));

    const std::pair<MouseButton, std::pair<unsigned, unsigned>> buttons[] = {
        {MouseButton::Left, {1, Button1Mask}},
        {MouseButton::Right, {3, Button3Mask}},
        {MouseButton::Middle, {2, Button2Mask}},
    };
    for (const auto& [button, x] : buttons) {
        const auto [number, mask] = x;
        probe_->clear();
        inject({Button{button, true, 1}, MoveTo{2500, 700}, MoveTo{120, 220},
                Button{button, false, 1}});
        events = probe_->wait_for(ButtonRelease, 1);
        ASSERT_EQ(events.size(), 4u);
        EXPECT_EQ(events[0].type, ButtonPress);
        EXPECT_EQ(events[0].button, number);
        // Motion while the button is down is a drag, across monitors too.
        EXPECT_EQ(events[1].type, MotionNotify);
        EXPECT_EQ(events[1].x, 2500);
        EXPECT_EQ(events[1].state & mask, mask);
        EXPECT_EQ(events[2].state & mask, mask);
        EXPECT_EQ(events[3].button, number);
        EXPECT_EQ(testing::held_input(server().display()).buttons, 0u);
    }
}

TEST_F(X11InputTest, RepeatedClicksLandOnThePreviousPressWhenClose) {
    inject({MoveTo{300, 300}, Button{MouseButton::Left, true, 1},
            Button{MouseButton::Left, false, 1}, MoveTo{303, 296},
            Button{MouseButton::Left, true, 2}, Button{MouseButton::Left, false, 2},
            MoveTo{340, 300}, Button{MouseButton::Left, true, 2},
            Button{MouseButton::Left, false, 2}});
    const auto presses = only(probe_->wait_for(ButtonPress, 3), ButtonPress);
    ASSERT_EQ(presses.size(), 3u);
    EXPECT_EQ(std::make_pair(presses[1].x, presses[1].y), std::make_pair(300, 300));
    EXPECT_EQ(std::make_pair(presses[2].x, presses[2].y), std::make_pair(340, 300));
}

TEST_F(X11InputTest, ScrollsInWheelClicks) {
    inject({Scroll{0, 130, ScrollPhase::Began}, Scroll{0, 50, ScrollPhase::Ended},
            Scroll{0, 40, ScrollPhase::Ended},  // remainder dropped: nothing
            Scroll{0, -59, ScrollPhase::None}, Scroll{0, -1, ScrollPhase::None},
            Scroll{60, 0, ScrollPhase::Changed}, Scroll{-60, 0, ScrollPhase::Changed}});
    const auto presses = only(probe_->wait_for(ButtonPress, 6), ButtonPress);
    std::vector<unsigned> wheel;
    for (const auto& e : presses) {
        wheel.push_back(e.button);
    }
    // Up, up (and 10 carried), up (10 + 50), down, left, right.
    EXPECT_THAT(wheel, ElementsAre(4, 4, 4, 5, 6, 7));
}

TEST_F(X11InputTest, KeysCarryModifiers) {
    const auto a = [](bool down, std::uint8_t modifiers = 0) {
        return Key{0, down, wire::Modifiers{modifiers}};
    };
    inject({a(true, wire::Modifiers::SHIFT), a(false, wire::Modifiers::SHIFT),  // A
            Key{56, true, {}}, a(true), a(false), Key{56, false, {}},           // A
            a(true), a(false),                                                  // a
            Key{55, true, {}}, a(true), a(false), Key{55, false, {}},           // command-a
            a(true, wire::Modifiers::CONTROL | wire::Modifiers::OPTION), a(false),
            Key{105, true, {}}, Key{105, false, {}}});  // F13, which the keyboard lacks
    EXPECT_TRUE(testing::held_input(server().display()).keys.empty());
    const auto is_modifier = [](unsigned long sym) {
        return sym == XK_Shift_L || sym == XK_Super_L || sym == XK_Control_L || sym == XK_Alt_L;
    };
    std::vector<std::pair<unsigned long, unsigned>> seen;
    probe_->wait_until([&](const std::vector<ProbeEvent>& events) {
        seen.clear();
        for (const auto& e : only(events, KeyPress)) {
            if (!is_modifier(e.keysym)) {
                seen.emplace_back(e.keysym,
                                  e.state & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask));
            }
        }
        return seen.size() == 6;
    });
    EXPECT_THAT(seen, ElementsAre(std::make_pair(XK_A, ShiftMask), std::make_pair(XK_A, ShiftMask),
                                  std::make_pair(XK_a, 0u), std::make_pair(XK_a, Mod4Mask),
                                  std::make_pair(XK_a, ControlMask | Mod1Mask),
                                  std::make_pair(XK_F13, 0u)));
}

TEST_F(X11InputTest, LeftAndRightShareAModifier) {
    inject({Key{56, true, {}}, Key{60, true, {}}, Key{60, false, {}}, Key{0, true, {}},
            Key{0, false, {}}});
    const auto presses = only(probe_->wait_until([](const std::vector<ProbeEvent>& events) {
        return !testing::typed_text(events).empty();
    }),
                              KeyPress);
    EXPECT_EQ(presses.back().keysym, XK_a);
    EXPECT_EQ(presses.back().state & ShiftMask, 0u);
}

TEST_F(X11InputTest, CapsLockToggles) {
    inject({Key{57, true, {}}, Key{57, false, {}}, Key{0, true, {}}, Key{0, false, {}},
            Key{57, true, {}}, Key{57, false, {}}, Key{0, true, {}}, Key{0, false, {}}});
    const auto events = probe_->wait_for(KeyPress, 4);
    EXPECT_EQ(testing::typed_text(events), "Aa");
}

TEST_F(X11InputTest, TypesTextWithTabAndNewlineAsKeys) {
    inject({Text{"a\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80\tb\r\nC"}});
    const auto events = probe_->wait_for(KeyPress, 11);
    EXPECT_EQ(testing::typed_text(events),
              "a\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80\tb\rC");
    const auto syms = testing::pressed_keysyms(events);
    ASSERT_EQ(syms.size(), 11u);
    EXPECT_THAT(std::vector<unsigned long>(syms.begin() + 6, syms.end()),
                ElementsAre(XK_Tab, XK_b, XK_Return, XK_Shift_L, XK_C));
}

TEST_F(X11InputTest, TextIgnoresHeldModifiersAndCapsLockAndRestoresThem) {
    inject({Key{57, true, {}}, Key{57, false, {}}, Key{59, true, {}}, Text{"aB"}});
    EXPECT_THAT(testing::held_input(server().display()).keys, ElementsAre(37));  // Control_L
    auto events = probe_->wait_until([](const auto& e) { return testing::typed_text(e) == "aB"; });
    settle();
    inject({Key{59, false, {}}, Key{0, true, {}}, Key{0, false, {}}, Key{57, true, {}},
            Key{57, false, {}}});
    events = probe_->wait_for(KeyRelease, 3);
    EXPECT_EQ(testing::typed_text(events), "A");  // caps lock still on
}

TEST_F(X11InputTest, LongTextReusesSpareKeycodes) {
    // More distinct characters than the keyboard has spare keycodes.
    std::string text;
    for (char32_t c = U'\u4e00'; c < U'\u4e00' + 60; ++c) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
    inject({Text{text}, Text{text}});
    const auto events = probe_->wait_for(KeyPress, 120);
    EXPECT_EQ(testing::typed_text(events), text + text);
}

TEST_F(X11InputTest, ReleaseAllLetsGoOfEverything) {
    inject({MoveTo{10, 10}, Button{MouseButton::Left, true, 1},
            Button{MouseButton::Middle, true, 1}, Key{56, true, {}}, Key{61, true, {}},
            Key{0, true, {}}, Key{105, true, {}}, Key{57, true, {}}, Text{"\xC3\xA9"},
            Scroll{0, 40, ScrollPhase::Changed}});
    auto held = testing::held_input(server().display());
    EXPECT_EQ(held.buttons, Button1Mask | Button2Mask);
    EXPECT_EQ(held.keys.size(), 5u);  // both modifiers, a, F13, caps lock

    input_->release_all();
    held = testing::held_input(server().display());
    EXPECT_EQ(held.buttons, 0u);
    EXPECT_TRUE(held.keys.empty());
    EXPECT_EQ(keymap(), keymap_before_);

    // Nothing carries over: no drag, no scroll remainder, no modifier.
    settle();
    inject({Scroll{0, 30, ScrollPhase::Changed}, Scroll{0, 25, ScrollPhase::Changed},
            MoveTo{20, 20}, Key{0, true, {}}, Key{0, false, {}}, Key{57, true, {}},
            Key{57, false, {}}});
    const auto events = probe_->wait_for(KeyRelease, 2);
    EXPECT_TRUE(only(events, ButtonPress).empty());
    EXPECT_EQ(only(events, MotionNotify).back().state & Button1Mask, 0u);
    EXPECT_EQ(testing::typed_text(events), "A");  // caps lock stays on: it is toggled, not held
}

}  // namespace
}  // namespace mirravale::platform
