#pragma once
// The permission guide's state: which permission it is helping with, and what each refresh does
// to the panel. Free of widgets, so every transition can be driven by plain values.
//
// The controller owns one `Guide`. An "Allow…" button whose permission is really missing calls
// `request`; every interface refresh calls `refresh` with what it sees and applies the returned
// step to the panel (hide, move, bring to the front).

#include <chrono>
#include <optional>
#include <vector>

#include "core/geometry.hpp"
#include "core/ports.hpp"
#include "host/ui/guide_placement.hpp"
#include "platform-linux/system.hpp"

namespace mirravale::host::ui {

enum class GuideState { ScreenRecording = 0, Accessibility = 1, Idle = 2 };

// Before a settings window turns up, the guide waits this long before using the fallback place.
inline constexpr std::chrono::seconds GUIDE_FALLBACK_AFTER{4};

// What a refresh sees.
struct GuideView {
    core::PermissionSet permissions;  // from the latest status
    bool panel_visible = false;
    core::Point panel_origin;
    std::optional<core::Rect> settings_window;
    std::vector<ScreenArea> screens;         // primary first; may be empty
    std::optional<core::Rect> main_visible;  // visible area of the main screen, if any
};

// What the panel must do, in this order: hide, or move and/or come to the front.
struct GuideStep {
    bool hide = false;
    std::optional<core::Point> move_to;
    bool bring_to_front = false;

    friend bool operator==(const GuideStep&, const GuideStep&) = default;
};

class Guide {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Guide(Clock::time_point now) : started_(now) {}

    // Starts (or switches) the guide for a permission found missing. True when the panel is
    // already on screen and should be brought to the front again.
    bool request(platform::Permission which, Clock::time_point now);

    GuideStep refresh(const GuideView& view, Clock::time_point now);

    GuideState state() const { return state_; }
    bool shown() const { return shown_; }

  private:
    void go_idle();

    GuideState state_ = GuideState::Idle;
    Clock::time_point started_;
    bool shown_ = false;
};

}  // namespace mirravale::host::ui
