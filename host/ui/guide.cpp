#include "host/ui/guide.hpp"

namespace mirravale::host::ui {

bool Guide::request(platform::Permission which, Clock::time_point now) {
    state_ = which == platform::Permission::ScreenRecording ? GuideState::ScreenRecording
                                                            : GuideState::Accessibility;
    started_ = now;
    return shown_;
}

void Guide::go_idle() {
    state_ = GuideState::Idle;
    shown_ = false;
}

GuideStep Guide::refresh(const GuideView& view, Clock::time_point now) {
    using core::PermissionSet;
    GuideStep step;
    if ((state_ == GuideState::ScreenRecording &&
         view.permissions.has(PermissionSet::SCREEN_RECORDING)) ||
        (state_ == GuideState::Accessibility &&
         view.permissions.has(PermissionSet::ACCESSIBILITY))) {
        go_idle();
        step.hide = true;
        return step;
    }
    if (state_ == GuideState::Idle) {
        return step;
    }
    if (shown_ && !view.panel_visible) {
        go_idle();  // the user closed the panel
        return step;
    }
    if (view.settings_window) {
        const auto place = place_beside(*view.settings_window, view.screens);
        if (place && worth_moving(view.panel_origin, *place)) {
            step.move_to = place;
        }
    } else {
        // Wait for the settings window a while; once shown at the fallback place the panel
        // stays there until one turns up.
        if (shown_ || now - started_ <= GUIDE_FALLBACK_AFTER) {
            return step;
        }
        if (view.main_visible) {
            step.move_to = place_fallback(*view.main_visible);
        }
    }
    if (!shown_) {
        shown_ = true;
        step.bring_to_front = true;
    }
    return step;
}

}  // namespace mirravale::host::ui
