#include "platform-linux/input.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace mirravale::platform {
namespace {

// Clients read the keyboard map again when told it changed; a key that arrives while they do
// may come out as the keycode's previous keysym (Xlib's own input method dropped 3% of such keys
// 5 ms after the change on a loaded machine, none after 10 ms).
constexpr auto KEYMAP_SETTLE = std::chrono::milliseconds(20);
// Clients look a key's keysym up when they read the key's event, with the map as it is then: a
// spare keycode that typed something is bound again only once they have surely read it.
constexpr auto REBIND_GAP = std::chrono::milliseconds(50);
// At most this many spare keycodes are borrowed for characters the keyboard lacks.
constexpr std::size_t MAX_SPARE_KEYCODES = 32;

using core::input::Button;
using core::input::Key;
using core::input::MoveTo;
using core::input::Scroll;
using core::input::Text;

struct ModifierKey {
    std::uint16_t keycode;
    std::uint16_t partner;  // the other key of the pair, sharing the flag
    std::uint32_t flag;
};
// In the order release_all lets go of them.
constexpr ModifierKey MODIFIER_KEYS[] = {
    {56, 60, ModifierFlags::SHIFT},    {60, 56, ModifierFlags::SHIFT},
    {59, 62, ModifierFlags::CONTROL},  {62, 59, ModifierFlags::CONTROL},
    {58, 61, ModifierFlags::OPTION},   {61, 58, ModifierFlags::OPTION},
    {55, 54, ModifierFlags::COMMAND},  {54, 55, ModifierFlags::COMMAND},
    {63, 63, ModifierFlags::FUNCTION},
};
constexpr std::uint16_t CAPS_LOCK_KEY = 57;

const ModifierKey* modifier_key(std::uint16_t keycode) {
    for (const auto& key : MODIFIER_KEYS) {
        if (key.keycode == keycode) {
            return &key;
        }
    }
    return nullptr;
}

// The phone's modifier bits that become keys held around one key press.
struct PhoneModifier {
    std::uint8_t bit;
    std::uint32_t flag;
    Keysym sym;
};
constexpr PhoneModifier PHONE_MODIFIERS[] = {
    {wire::Modifiers::SHIFT, ModifierFlags::SHIFT, XK_Shift_L},
    {wire::Modifiers::CONTROL, ModifierFlags::CONTROL, XK_Control_L},
    {wire::Modifiers::OPTION, ModifierFlags::OPTION, XK_Alt_L},
    {wire::Modifiers::COMMAND, ModifierFlags::COMMAND, XK_Super_L},
};

int button_index(wire::MouseButton button) {
    switch (button) {
        case wire::MouseButton::Right:
            return 1;
        case wire::MouseButton::Middle:
            return 2;
        default:
            return 0;
    }
}
constexpr unsigned X_BUTTONS[] = {1, 3, 2};  // left, right, middle

// Protocol coordinates are 16-bit.
int to_coordinate(double value) {
    return static_cast<int>(std::clamp(std::floor(value), -32768.0, 32767.0));
}

struct KeyTarget {
    int keycode = 0;
    bool shift = false;  // the keysym is on the shifted level
};

}  // namespace

WheelStep wheel_step(double amount, double remainder, bool ended) {
    const double total = (std::isfinite(amount) ? amount : 0) + remainder;
    double clicks = std::trunc(total / WHEEL_STEP_PX);
    double rest = total - clicks * WHEEL_STEP_PX;
    if (std::abs(clicks) > MAX_WHEEL_CLICKS) {
        clicks = std::copysign(MAX_WHEEL_CLICKS, clicks);
        rest = 0;
    }
    return {static_cast<int>(clicks), ended ? 0 : rest};
}

struct X11Input::State {
    bool xtest = false;
    bool xkb = false;

    // The keyboard map as last read, and the keycodes borrowed for missing keysyms.
    int min_keycode = 0;
    int max_keycode = 0;
    int per_keycode = 0;
    std::vector<KeySym> keymap;
    SparePool spares;
    std::map<int, std::chrono::steady_clock::time_point> typed;  // when a spare keycode last typed

    std::optional<core::Point> pointer;  // where the last MoveTo put it
    struct Press {
        int x, y;
        int button;
    };
    std::optional<Press> last_press;
    std::array<bool, 3> buttons{};  // left, right, middle
    double scroll_x = 0;
    double scroll_y = 0;
    std::uint32_t flags = 0;
    std::map<std::uint16_t, int> pressed;  // virtual key code -> the X keycode it holds down

    Display* d = nullptr;

    KeySym sym_at(int keycode, int column) const {
        return keymap[static_cast<std::size_t>((keycode - min_keycode) * per_keycode + column)];
    }

    void read_keymap() {
        int per = 0;
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min_keycode),
                                           max_keycode - min_keycode + 1, &per);
        keymap.clear();
        per_keycode = 0;
        if (syms == nullptr) {
            return;
        }
        per_keycode = per;
        keymap.assign(syms, syms + static_cast<std::size_t>(per) * (max_keycode - min_keycode + 1));
        XFree(syms);
        // Another client may have rewritten the map, our borrowed keycodes included.
        for (int keycode : spares.keycodes()) {
            const KeySym bound = spares.bound_to(keycode);
            if (per_keycode < 1 || sym_at(keycode, 0) != (bound == 0 ? NoSymbol : bound)) {
                spares.drop(keycode);
            }
        }
    }

    std::vector<int> empty_keycodes() const {
        std::vector<int> empty;
        // Keycode 8 has no key behind it in the usual keyboard descriptions.
        for (int keycode = std::max(min_keycode, 9);
             keycode <= max_keycode && empty.size() < MAX_SPARE_KEYCODES; ++keycode) {
            bool blank = true;
            for (int column = 0; column < per_keycode && blank; ++column) {
                blank = sym_at(keycode, column) == NoSymbol;
            }
            if (blank) {
                empty.push_back(keycode);
            }
        }
        return empty;
    }

    // Reads the map again when the server said it changed (our own changes included); the
    // notices would otherwise pile up unread on this connection.
    void catch_up() {
        bool changed = false;
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
            }
            changed = true;
        }
        if (changed) {
            read_keymap();
        }
    }

    // The keyboard's state: caps lock on, and whether its first group is active (the only one
    // whose keysyms the core map lists in its first two columns).
    std::pair<bool, bool> lock_and_group() const {
        if (xkb) {
            XkbStateRec state{};
            if (XkbGetState(d, XkbUseCoreKbd, &state) == Success) {
                return {(state.locked_mods & LockMask) != 0, state.group == 0};
            }
        }
        Window root, child;
        int rx, ry, wx, wy;
        unsigned mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return {(mask & LockMask) != 0, true};
    }

    std::optional<KeyTarget> in_keymap(Keysym sym) const {
        if (per_keycode < 1) {
            return std::nullopt;
        }
        const auto spare = spares.keycodes();
        std::optional<KeyTarget> shifted;
        for (int keycode = min_keycode; keycode <= max_keycode; ++keycode) {
            if (std::find(spare.begin(), spare.end(), keycode) != spare.end()) {
                continue;
            }
            if (sym_at(keycode, 0) == sym) {
                return KeyTarget{keycode, false};
            }
            if (!shifted && per_keycode > 1 && sym_at(keycode, 1) == sym) {
                shifted = KeyTarget{keycode, true};
            }
        }
        return shifted;
    }

    // Binds the keysyms of freshly taken spare keycodes on both levels, so that neither shift
    // nor caps lock changes what they type.
    void apply(const std::vector<int>& keycodes) {
        if (keycodes.empty()) {
            return;
        }
        wait_until_read(keycodes);
        for (int keycode : keycodes) {
            const KeySym sym = spares.bound_to(keycode);
            KeySym both[2] = {sym, sym};
            XChangeKeyboardMapping(d, keycode, 2, both, 1);
        }
        XSync(d, False);
        std::this_thread::sleep_for(KEYMAP_SETTLE);
    }

    // Waits until clients have surely read what these keycodes typed last.
    void wait_until_read(const std::vector<int>& keycodes) {
        std::optional<std::chrono::steady_clock::time_point> latest;
        for (int keycode : keycodes) {
            if (const auto t = typed.find(keycode); t != typed.end()) {
                latest = std::max(latest.value_or(t->second), t->second);
                typed.erase(t);
            }
        }
        if (latest) {
            XSync(d, False);
            std::this_thread::sleep_until(*latest + REBIND_GAP);
        }
    }

    void unbind_all() {
        const auto keycodes = spares.take_bound();
        wait_until_read(keycodes);
        for (int keycode : keycodes) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(d, keycode, 2, none, 1);
        }
    }

    // A keycode that types `sym`: from the map when the first group is active or the keysym is
    // not a character (modifiers, function and media keys are the same in every group), else a
    // spare one, bound at once. None when the keyboard lacks it and no keycode is free.
    std::optional<KeyTarget> resolve(Keysym sym, bool first_group) {
        const bool character = sym < 0xff00 || (sym >= 0x01000000 && sym < 0x10000000);
        if (first_group || !character) {
            if (auto target = in_keymap(sym)) {
                return target;
            }
        }
        if (auto keycode = spares.find(sym)) {
            return KeyTarget{*keycode, false};
        }
        const auto keycode = spares.bind(sym);
        if (!keycode) {
            return std::nullopt;
        }
        apply({*keycode});
        return KeyTarget{*keycode, false};
    }

    void key_event(int keycode, bool down) {
        XTestFakeKeyEvent(d, static_cast<unsigned>(keycode), down ? True : False, CurrentTime);
        if (spares.bound_to(keycode) != 0) {
            typed[keycode] = std::chrono::steady_clock::now();
        }
    }

    void tap(int keycode) {
        key_event(keycode, true);
        key_event(keycode, false);
    }

    void tap(const KeyTarget& target) {
        const auto shift = target.shift ? in_keymap(XK_Shift_L) : std::nullopt;
        if (shift) {
            key_event(shift->keycode, true);
        }
        tap(target.keycode);
        if (shift) {
            key_event(shift->keycode, false);
        }
    }

    // Sets the lock directly where XKB allows it: tapping the key would fail while it is held.
    void set_caps_lock(bool on) {
        if (xkb) {
            XkbLockModifiers(d, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
        } else if (auto caps = in_keymap(XK_Caps_Lock)) {
            tap(caps->keycode);
        }
    }

    core::Point location() const {
        if (pointer) {
            return *pointer;
        }
        Window root, child;
        int rx = 0, ry = 0, wx, wy;
        unsigned mask;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return {static_cast<double>(rx), static_cast<double>(ry)};
    }

    void move_to(const MoveTo& move) {
        if (!std::isfinite(move.x) || !std::isfinite(move.y)) {
            return;
        }
        // Motion with a button down is a drag to every client; X needs nothing more.
        XTestFakeMotionEvent(d, -1, to_coordinate(move.x), to_coordinate(move.y), CurrentTime);
        pointer = core::Point{move.x, move.y};
    }

    void button(const Button& event) {
        const int index = button_index(event.button);
        const auto at = location();
        int x = to_coordinate(at.x);
        int y = to_coordinate(at.y);
        if (event.pressed) {
            // X has no click count: the receiver counts presses close in time and place.
            if (event.clicks >= 2 && last_press && last_press->button == index &&
                std::abs(last_press->x - x) <= CLICK_SLOP_PX &&
                std::abs(last_press->y - y) <= CLICK_SLOP_PX &&
                (last_press->x != x || last_press->y != y)) {
                x = last_press->x;
                y = last_press->y;
                XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
            }
            last_press = Press{x, y, index};
        }
        XTestFakeButtonEvent(d, X_BUTTONS[index], event.pressed ? True : False, CurrentTime);
        buttons[static_cast<std::size_t>(index)] = event.pressed;
    }

    void wheel(unsigned positive, unsigned negative, int clicks) {
        const unsigned xbutton = clicks > 0 ? positive : negative;
        for (int i = 0; i < std::abs(clicks); ++i) {
            XTestFakeButtonEvent(d, xbutton, True, CurrentTime);
            XTestFakeButtonEvent(d, xbutton, False, CurrentTime);
        }
    }

    void scroll(const Scroll& event) {
        const bool ended = event.phase == wire::ScrollPhase::Ended;
        const auto vertical = wheel_step(event.dy, scroll_y, ended);
        const auto horizontal = wheel_step(event.dx, scroll_x, ended);
        scroll_y = vertical.remainder;
        scroll_x = horizontal.remainder;
        wheel(4, 5, vertical.clicks);    // up, down
        wheel(6, 7, horizontal.clicks);  // left, right
    }

    void key(const Key& event) {
        const auto* modifier = modifier_key(event.keycode);
        if (event.keycode == CAPS_LOCK_KEY) {
            if (event.pressed) {
                flags ^= ModifierFlags::CAPS_LOCK;
            }
        } else if (modifier != nullptr) {
            flags = event.pressed ? flags | modifier->flag : flags & ~modifier->flag;
        }
        if (!event.pressed) {
            release_key(event.keycode);
            // Both keys of a pair hold one flag: letting go of either lets go of both.
            if (modifier != nullptr) {
                release_key(modifier->partner);
            }
            return;
        }
        const auto sym = keysym_for_key(event.keycode);
        if (!sym) {
            return;
        }
        if (const auto held = pressed.find(event.keycode); held != pressed.end()) {
            key_event(held->second, true);
            return;
        }
        const auto [locked, first_group] = lock_and_group();
        const auto target = resolve(*sym, first_group);
        if (!target) {
            return;
        }
        std::vector<int> around;
        bool toggle_caps = false;
        if (modifier == nullptr && event.keycode != CAPS_LOCK_KEY) {
            for (const auto& m : PHONE_MODIFIERS) {
                const bool wanted =
                    event.modifiers.has(m.bit) || (m.flag == ModifierFlags::SHIFT && target->shift);
                if (wanted && (flags & m.flag) == 0) {
                    if (auto held = in_keymap(m.sym)) {
                        around.push_back(held->keycode);
                    }
                }
            }
            toggle_caps = event.modifiers.has(wire::Modifiers::CAPS_LOCK) && !locked;
        }
        if (toggle_caps) {
            set_caps_lock(true);
        }
        for (int keycode : around) {
            key_event(keycode, true);
        }
        key_event(target->keycode, true);
        for (auto it = around.rbegin(); it != around.rend(); ++it) {
            key_event(*it, false);
        }
        if (toggle_caps) {
            set_caps_lock(false);
        }
        pressed[event.keycode] = target->keycode;
        spares.pin(target->keycode);
    }

    void release_key(std::uint16_t keycode) {
        const auto held = pressed.find(keycode);
        if (held == pressed.end()) {
            return;
        }
        key_event(held->second, false);
        spares.unpin(held->second);
        pressed.erase(held);
    }

    // Types characters with as few keyboard map changes as the spare keycodes allow: each
    // batch binds what it lacks at once, then types.
    void type_chars(const std::u32string& chars, bool first_group) {
        std::vector<KeyTarget> batch;
        std::vector<int> keep;
        std::vector<int> changed;
        const auto commit = [&] {
            apply(changed);
            for (const auto& target : batch) {
                tap(target);
            }
            batch.clear();
            keep.clear();
            changed.clear();
        };
        for (const char32_t c : chars) {
            const Keysym sym = keysym_for_char(c);
            if (first_group) {
                if (auto target = in_keymap(sym)) {
                    batch.push_back(*target);
                    continue;
                }
            }
            auto keycode = spares.find(sym);
            if (!keycode) {
                keycode = spares.bind(sym, keep);
                if (!keycode) {
                    commit();
                    keycode = spares.bind(sym, keep);
                }
                if (!keycode) {
                    continue;  // no keycode to spare at all
                }
                changed.push_back(*keycode);
            }
            keep.push_back(*keycode);
            batch.push_back(KeyTarget{*keycode, false});
        }
        commit();
    }

    // Typing ignores held modifiers and caps lock: they are let go of for the text and put
    // back afterwards.
    void text(const Text& event) {
        const auto steps = plan_text(event.text);
        if (steps.empty()) {
            return;
        }
        std::vector<int> lifted;
        for (const auto& [virtual_key, keycode] : pressed) {
            if (modifier_key(virtual_key) != nullptr) {
                lifted.push_back(keycode);
                key_event(keycode, false);
            }
        }
        const auto [locked, first_group] = lock_and_group();
        if (locked) {
            set_caps_lock(false);
        }
        for (const auto& step : steps) {
            if (const auto* keycode = std::get_if<std::uint16_t>(&step)) {
                if (auto target = resolve(*keysym_for_key(*keycode), first_group)) {
                    tap(*target);
                }
            } else {
                type_chars(std::get<std::u32string>(step), first_group);
            }
        }
        if (locked) {
            set_caps_lock(true);
        }
        for (int keycode : lifted) {
            key_event(keycode, true);
        }
    }

    void release_all() {
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            if (buttons[i]) {
                XTestFakeButtonEvent(d, X_BUTTONS[i], False, CurrentTime);
            }
        }
        for (const auto& modifier : MODIFIER_KEYS) {
            if ((flags & modifier.flag) != 0) {
                release_key(modifier.keycode);
            }
        }
        // Unlike modifiers, an ordinary key left down would repeat until the next session.
        for (const auto& [virtual_key, keycode] : pressed) {
            key_event(keycode, false);
        }
        pressed.clear();
        spares.unpin_all();
        unbind_all();
        pointer.reset();
        last_press.reset();
        buttons = {};
        scroll_x = scroll_y = 0;
        flags = 0;
    }
};

Result<std::unique_ptr<X11Input>> X11Input::open(const std::string& display) {
    auto injector = X11Connection::open(display);
    if (!injector) {
        return fail(injector.error());
    }
    auto query = X11Connection::open(display);
    if (!query) {
        return fail(query.error());
    }
    auto state = std::make_unique<State>();
    (*injector)->with([&](Display* d) {
        state->d = d;
        int event_base, error_base, major, minor;
        state->xtest = XTestQueryExtension(d, &event_base, &error_base, &major, &minor) == True;
        if (state->xtest) {
            // Our events keep flowing while another client grabs the server.
            XTestGrabControl(d, True);
        }
        major = XkbMajorVersion;
        minor = XkbMinorVersion;
        int opcode;
        state->xkb = XkbQueryExtension(d, &opcode, &event_base, &error_base, &major, &minor);
        XDisplayKeycodes(d, &state->min_keycode, &state->max_keycode);
        state->read_keymap();
        state->spares = SparePool(state->empty_keycodes());
    });
    return std::unique_ptr<X11Input>(
        new X11Input(std::move(*injector), std::move(*query), std::move(state)));
}

X11Input::X11Input(std::unique_ptr<X11Connection> injector, std::unique_ptr<X11Connection> query,
                   std::unique_ptr<State> state)
    : injector_(std::move(injector)), query_(std::move(query)), state_(std::move(state)) {}

X11Input::~X11Input() {
    release_all();
}

void X11Input::inject(const core::InputEvent& event) {
    injector_->with([&](Display* d) {
        if (!state_->xtest) {
            return;
        }
        state_->catch_up();
        std::visit(
            [&](const auto& e) {
                using E = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<E, MoveTo>) {
                    state_->move_to(e);
                } else if constexpr (std::is_same_v<E, Button>) {
                    state_->button(e);
                } else if constexpr (std::is_same_v<E, Scroll>) {
                    state_->scroll(e);
                } else if constexpr (std::is_same_v<E, Key>) {
                    state_->key(e);
                } else {
                    state_->text(e);
                }
            },
            event);
        // Returns once the server has taken the events, so that they keep their order with
        // whatever the caller does next through other connections.
        XSync(d, False);
    });
}

std::optional<core::Point> X11Input::cursor_position() {
    return query_->with([](Display* d) -> std::optional<core::Point> {
        Window root, child;
        int x, y, wx, wy;
        unsigned mask;
        if (!XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask)) {
            return std::nullopt;
        }
        return core::Point{static_cast<double>(x), static_cast<double>(y)};
    });
}

void X11Input::release_all() {
    injector_->with([&](Display* d) {
        if (!state_->xtest) {
            return;
        }
        state_->catch_up();
        state_->release_all();
        XSync(d, False);
    });
}

}  // namespace mirravale::platform
