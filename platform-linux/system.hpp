#pragma once
// The X server's displays, what this process may do on it, and keeping the screen awake.
//
// Global points here are root-window coordinates: the monitors' rectangles, the pointer and the
// injected motion all use them, and X11 has no scale between points and pixels.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/ports.hpp"
#include "platform-linux/x11_connection.hpp"

namespace mirravale::platform {

inline constexpr std::size_t MAX_DISPLAYS = 16;

// Names the user gave to displays, by display id; they replace the default names.
using DisplayNames = std::vector<std::pair<std::uint32_t, std::string>>;

// One monitor as the server describes it.
struct MonitorInfo {
    std::string name;                // the monitor's own name ("DP-1", or one set by a tool)
    std::vector<std::uint8_t> edid;  // of its first output; empty when there is none
    std::string output;              // connector name of its first output; empty when none
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    bool holds_primary_output = false;
};

// A display id that stays the same across runs and restarts of the server: a hash of the EDID,
// else of the monitor's name (its atom number changes from run to run). Never 0.
std::uint32_t display_id(const MonitorInfo& monitor);

// Laptop panels sit on embedded connectors.
bool is_builtin(std::string_view output);

// The display list for monitors in the server's order: ids (made unique), default names
// ("Built-in Display", else "Display {}" counting the others), names given by the user, and the
// main display: the primary monitor, else the one holding the primary output, else the one at
// the origin, else the first. At most MAX_DISPLAYS.
std::vector<core::Display> make_displays(const std::vector<MonitorInfo>& monitors,
                                         const DisplayNames& names);

class X11Displays final : public core::DisplayDirectory {
  public:
    static Result<std::unique_ptr<X11Displays>> open(const std::string& display = {});
    std::vector<core::Display> displays() override;
    // Replaces every name given before.
    void set_names(DisplayNames names);

  private:
    explicit X11Displays(std::unique_ptr<X11Connection> connection)
        : connection_(std::move(connection)) {}
    std::unique_ptr<X11Connection> connection_;
    std::mutex names_mutex_;
    DisplayNames names_;
};

enum class Permission { ScreenRecording, Accessibility };

// What xdg-open is given for each permission: X has no settings pane for them, so the pages
// that explain how a server withholds them (untrusted connections, disabled extensions).
std::string settings_target(Permission which);

class X11Permissions final : public core::PermissionProbe {
  public:
    // `launcher` opens settings targets; the desktop's own opener unless a test says otherwise.
    static Result<std::unique_ptr<X11Permissions>> open(const std::string& display = {},
                                                        std::string launcher = "xdg-open");
    // Screen recording when a 1x1 picture of the root window can be read; accessibility when
    // the server offers XTEST to this connection.
    core::PermissionSet permissions() override;
    // Runs the launcher with the permission's target after `delay`, on a thread of its own;
    // returns at once. Destruction cancels the launches still waiting out their delay and
    // waits for those already running.
    void open_settings(Permission which, std::chrono::nanoseconds delay);
    ~X11Permissions() override;
    // There is no settings window to place a guide next to.
    std::optional<core::Rect> settings_window() { return std::nullopt; }

  private:
    X11Permissions(std::unique_ptr<X11Connection> connection, bool xtest, std::string launcher)
        : connection_(std::move(connection)), xtest_(xtest), launcher_(std::move(launcher)) {}
    void open_after(const std::string& target, std::chrono::nanoseconds delay,
                    std::stop_token stop);

    std::unique_ptr<X11Connection> connection_;
    bool xtest_;
    std::string launcher_;
    std::mutex openers_mutex_;
    std::condition_variable_any openers_wake_;
    struct Opener {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::vector<Opener> openers_;  // finished ones are joined at the next launch
};

class X11Power final : public core::PowerAssertion {
  public:
    // Never fails: without a display or the screen saver extension, guards have no effect.
    static std::unique_ptr<X11Power> open(const std::string& display = {});
    // Counts as user activity, and keeps the screen saver and display power saving off while
    // any guard lives.
    std::unique_ptr<core::PowerGuard> keep_awake() override;

    struct Suspender;

  private:
    explicit X11Power(std::shared_ptr<Suspender> suspender) : suspender_(std::move(suspender)) {}
    std::shared_ptr<Suspender> suspender_;
};

}  // namespace mirravale::platform
