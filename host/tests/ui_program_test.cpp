// The desktop program on a private X server: its window appears at launch, the QR code on the
// screen reads back as the pairing link, and a phone that pairs with that link and takes control
// sends the window out of the way: hidden when a system tray holds the program's icon,
// minimised when the window is the only way back in. The permission guide of a program that
// lacks both permissions. Also what `cmake --install` puts in place.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host/tests/program_fixture.hpp"
#include "platform-linux/system.hpp"
#include "platform-linux/tests/xvfb_fixture.hpp"

// Xlib last: its macros (None, Status, Bool) clash with the names above.
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
// clang-format on
constexpr long X_NONE = None;
#undef None
#undef Status

extern char** environ;

namespace mirravale::host {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int SCREEN_WIDTH = 1280;
constexpr int SCREEN_HEIGHT = 1024;
const std::regex LINK("mirravale://pair\\?[^\\s]+");

// A client of the test's own on the server, which waits on the server's events instead of
// polling: the root's substructure (maps, unmaps, reparenting) and the tray's selection owner.
class Observer {
  public:
    explicit Observer(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
        if (display_ == nullptr) {
            return;
        }
        root_ = DefaultRootWindow(display_);
        // Structure events on the root also carry what clients send the window manager.
        XSelectInput(display_, root_, SubstructureNotifyMask | StructureNotifyMask);
        tray_selection_ = XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False);
        change_state_ = XInternAtom(display_, "WM_CHANGE_STATE", False);
        int event_base = 0;
        int error_base = 0;
        if (XFixesQueryExtension(display_, &event_base, &error_base)) {
            XFixesSelectSelectionInput(display_, root_, tray_selection_,
                                       XFixesSetSelectionOwnerNotifyMask);
        }
        XSync(display_, False);
    }
    ~Observer() {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;
    bool ok() const { return display_ != nullptr; }

    // True once `holds` does, checked now and after every batch of events; false after `limit`.
    bool wait_until(const std::function<bool()>& holds, std::chrono::seconds limit = 20s) {
        const auto deadline = Clock::now() + limit;
        while (!holds()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) {
                return false;
            }
            if (XPending(display_) == 0) {
                pollfd fd{ConnectionNumber(display_), POLLIN, 0};
                poll(&fd, 1, int(left.count()));
            }
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                // What a client sends the window manager to be minimised; there is no window
                // manager here, so the window stays on screen and the request is all there is.
                if (event.type == ClientMessage && event.xclient.message_type == change_state_ &&
                    event.xclient.format == 32 && event.xclient.data.l[0] == IconicState) {
                    minimised_.push_back(event.xclient.window);
                }
            }
        }
        return true;
    }

    // The pairing window asked to be minimised.
    bool minimise_asked() {
        for (const Window w : minimised_) {
            if (is_pairing_window(w)) {
                return true;
            }
        }
        return false;
    }

    bool tray_present() { return XGetSelectionOwner(display_, tray_selection_) != X_NONE; }

    // The pairing window: a top-level window named "Mirravale", 400 x 722, on screen.
    bool window_shown() {
        for (const Window w : children(root_)) {
            XWindowAttributes a;
            if (is_pairing_window(w) && XGetWindowAttributes(display_, w, &a) &&
                a.map_state == IsViewable) {
                return true;
            }
        }
        return false;
    }

    // Where a top-level window of the program of that size and on screen has its top-left
    // corner.
    std::optional<std::pair<int, int>> shown_at(int width, int height) {
        for (const Window w : children(root_)) {
            XWindowAttributes a;
            if (XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable &&
                a.width == width && a.height == height && name(w) == "Mirravale") {
                return std::pair{a.x, a.y};
            }
        }
        return std::nullopt;
    }

    // A click of the left button, as a person's.
    void click(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XTestFakeButtonEvent(display_, 1, False, 0);
        XSync(display_, False);
    }

    // A window of the program docked in the tray: one of its windows that is not a child of
    // the root any more, held by the window owning the tray selection or below it.
    bool docked_in_tray() {
        for (const Window top : children(root_)) {
            if (class_of(top) == "mirravale") {
                continue;  // still a top-level window of the program
            }
            std::vector<Window> below = {top};
            while (!below.empty()) {
                const Window w = below.back();
                below.pop_back();
                if (w != top && class_of(w) == "mirravale") {
                    return true;
                }
                for (const Window child : children(w)) {
                    below.push_back(child);
                }
            }
        }
        return false;
    }

  private:
    bool is_pairing_window(Window w) {
        XWindowAttributes a;
        return XGetWindowAttributes(display_, w, &a) && a.width == 400 && a.height == 722 &&
               name(w) == "Mirravale";
    }
    std::vector<Window> children(Window w) {
        Window root = 0;
        Window parent = 0;
        Window* list = nullptr;
        unsigned count = 0;
        std::vector<Window> out;
        if (XQueryTree(display_, w, &root, &parent, &list, &count) && list != nullptr) {
            out.assign(list, list + count);
            XFree(list);
        }
        return out;
    }
    std::string name(Window w) {
        XTextProperty property;
        std::string out;
        if (XGetWMName(display_, w, &property) && property.value != nullptr) {
            out.assign(reinterpret_cast<const char*>(property.value), property.nitems);
            XFree(property.value);
        }
        return out;
    }
    std::string class_of(Window w) {
        XClassHint hint{nullptr, nullptr};
        std::string out;
        if (XGetClassHint(display_, w, &hint)) {
            out = hint.res_name != nullptr ? hint.res_name : "";
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        return out;
    }

    Display* display_;
    Window root_ = 0;
    Atom tray_selection_ = 0;
    Atom change_state_ = 0;
    std::vector<Window> minimised_;
};

// A system tray on the display, stopped by its process id.
class Tray {
  public:
    explicit Tray(const std::string& display) {
        const std::string assignment = "DISPLAY=" + display;
        std::vector<char*> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::string_view(*e).rfind("DISPLAY=", 0) != 0) {
                environment.push_back(*e);
            }
        }
        environment.push_back(const_cast<char*>(assignment.c_str()));
        environment.push_back(nullptr);
        const char* argv[] = {"trayer", "--SetDockType", "false", "--edge",
                              "top",    "--height",      "32",    nullptr};
        if (posix_spawnp(&pid_, "trayer", nullptr, nullptr, const_cast<char**>(argv),
                         environment.data()) != 0) {
            pid_ = -1;
        }
    }
    ~Tray() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

// What zbarimg reads in a picture of the whole screen; the window may not be painted at once,
// so a few pictures are taken (each takes its own time; nothing sleeps).
std::optional<std::string> link_on_screen(const std::string& display,
                                          const std::filesystem::path& folder) {
    const std::string picture = (folder / "screen.png").string();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const auto shot =
            testing::run({"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                          std::to_string(SCREEN_WIDTH) + "x" + std::to_string(SCREEN_HEIGHT), "-i",
                          display, "-frames:v", "1", picture});
        if (shot.status != 0) {
            ADD_FAILURE() << "ffmpeg: " << shot.output;
            return std::nullopt;
        }
        // zbarimg also complains on standard error when there is no system bus.
        const auto read = testing::run({"zbarimg", "--raw", "-q", picture});
        std::smatch match;
        if (read.status == 0 && std::regex_search(read.output, match, LINK)) {
            return match.str();
        }
    }
    return std::nullopt;
}

class DesktopProgram : public ::testing::TestWithParam<bool> {};

TEST_P(DesktopProgram, ShowsTheCodeOnScreenAndGoesAwayWhenAPhoneTakesControl) {
    const bool with_tray = GetParam();
    platform::testing::XvfbOptions screen;
    screen.width = SCREEN_WIDTH;
    screen.height = SCREEN_HEIGHT;
    auto server = platform::testing::Xvfb::start(screen);
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string display = (*server)->display();
    Observer x(display);
    ASSERT_TRUE(x.ok());

    std::optional<Tray> tray;
    if (with_tray) {
        tray.emplace(display);
        ASSERT_TRUE(tray->started());
        ASSERT_TRUE(x.wait_until([&] { return x.tray_present(); })) << "trayer took no tray";
    }

    // No session bus either: a tray reached through one would be another desktop's.
    testing::TempDir nowhere("mirravale-no-bus");
    testing::ProgramOptions options;
    options.headless = false;
    options.environment = {
        {"DISPLAY", display},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (nowhere.path() / "bus").string()},
        {"MIRRAVALE_LOG", "info,mirravale::ui=debug"}};
    testing::Program program(options);

    ASSERT_TRUE(x.wait_until([&] { return x.window_shown(); })) << program.output();
    if (with_tray) {
        EXPECT_TRUE(x.wait_until([&] { return x.docked_in_tray(); })) << "no icon in the tray";
    } else {
        EXPECT_FALSE(x.docked_in_tray());
    }

    const auto logged = program.link();  // the window logs the link it draws
    ASSERT_TRUE(logged) << program.output();
    const auto shown = link_on_screen(display, program.dir());
    ASSERT_TRUE(shown) << "no QR code read on the screen";
    EXPECT_EQ(*shown, *logged);

    // Pair with what the screen showed, then hold control for a while.
    const auto paired = program.phone({"pair", *shown});
    ASSERT_EQ(paired.status, 0) << paired.output << program.output();
    testing::PhoneRun streamed;
    std::thread phone([&] { streamed = program.phone({"stream", "--seconds", "3"}); });
    // With a tray the window hides; without one it is minimised instead, as the only way back
    // into the program.
    const bool out_of_the_way =
        x.wait_until([&] { return with_tray ? !x.window_shown() : x.minimise_asked(); });
    phone.join();
    EXPECT_TRUE(out_of_the_way) << program.output();
    EXPECT_EQ(streamed.status, 0) << streamed.output;
    if (with_tray) {
        EXPECT_FALSE(x.window_shown());  // the phone left; the window stays hidden
    }
}

INSTANTIATE_TEST_SUITE_P(Ui, DesktopProgram, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithTray" : "WithoutTray"; });

// A program that may neither read the screen nor inject input (an untrusted client) offers
// both "Allow…" buttons. Pressing one opens the settings target through the desktop's opener and,
// with no settings window to stand beside, shows the guide panel at the bottom centre.
TEST(DesktopGuide, AllowOpensTheSettingsAndShowsThePanel) {
    platform::testing::XvfbOptions screen;
    screen.width = SCREEN_WIDTH;
    screen.height = SCREEN_HEIGHT;
    screen.access_control = true;
    auto server = platform::testing::Xvfb::start(screen);
    ASSERT_TRUE(server.ok()) << server.error();
    const auto untrusted = (*server)->untrusted_authority();
    ASSERT_TRUE(untrusted.ok()) << untrusted.error();
    const std::string display = (*server)->display();
    std::optional<Observer> x;
    {
        platform::testing::ScopedAuthority trusted((*server)->authority());
        x.emplace(display);
    }
    ASSERT_TRUE(x->ok());

    // The opener is a stand-in that writes what it was given into a pipe the test waits on.
    testing::TempDir bin("mirravale-opener");
    const auto pipe = bin.path() / "opened";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int opened = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(opened, 0);
    {
        std::ofstream opener(bin.path() / "xdg-open");
        opener << "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" << pipe.string() << "'\n";
    }
    std::filesystem::permissions(bin.path() / "xdg-open", std::filesystem::perms::owner_all);

    testing::TempDir nowhere("mirravale-no-bus");
    testing::ProgramOptions options;
    options.headless = false;
    const char* path = std::getenv("PATH");
    options.environment = {
        {"DISPLAY", display},
        {"XAUTHORITY", *untrusted},
        {"PATH", bin.path().string() + ":" + (path ? path : "")},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (nowhere.path() / "bus").string()}};
    testing::Program program(options);

    std::optional<std::pair<int, int>> window;
    ASSERT_TRUE(x->wait_until([&] { return (window = x->shown_at(400, 722)).has_value(); }))
        << program.output();
    // The accessibility row's button: 266, 118, 100 x 28 from the bottom left of 400 x 722.
    x->click(window->first + 266 + 50, window->second + 722 - 118 - 14);

    pollfd wait{opened, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, 20'000), 1) << "the opener never ran\n" << program.output();
    char given[256] = {};
    ASSERT_GT(read(opened, given, sizeof given - 1), 0);
    close(opened);
    EXPECT_EQ(std::string(given),
              platform::settings_target(platform::Permission::Accessibility) + "\n");

    std::optional<std::pair<int, int>> panel;
    ASSERT_TRUE(x->wait_until([&] { return (panel = x->shown_at(400, 124)).has_value(); }))
        << program.output();
    EXPECT_EQ(*panel, std::pair((SCREEN_WIDTH - 400) / 2, SCREEN_HEIGHT - 40 - 124));
    EXPECT_TRUE(x->shown_at(400, 722));  // the window stays where it was
}

// `cmake --install` of this build puts the program, its icon and its desktop entry where a
// desktop finds them, and the entry names that program and that icon.
TEST(Install, PutsTheProgramIconAndDesktopEntryInPlace) {
    const auto build = std::filesystem::path(MIRRAVALE_BIN).parent_path().parent_path();
    testing::TempDir prefix("mirravale-install");
    const auto installed =
        testing::run({"cmake", "--install", build.string(), "--prefix", prefix.path().string()});
    ASSERT_EQ(installed.status, 0) << installed.output;

    const auto program = prefix.path() / "bin" / "mirravale";
    const auto icon = prefix.path() / "share/icons/hicolor/256x256/apps/mirravale.png";
    const auto entry = prefix.path() / "share/applications/mirravale.desktop";
    EXPECT_EQ(std::filesystem::status(program).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::owner_exec);
    const auto valid = testing::run({"desktop-file-validate", entry.string()});
    EXPECT_EQ(valid.status, 0) << valid.output;
    const std::string text = testing::slurp(entry);
    EXPECT_NE(text.find("\nExec=mirravale\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=mirravale\n"), std::string::npos) << text;
    // A PNG of the size its folder promises: the IHDR's width and height, big-endian.
    const std::string png = testing::slurp(icon);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x01\0\0\0\x01\0", 8));
}

}  // namespace
}  // namespace mirravale::host
