#include "host/ui/guide_placement.hpp"

#include <algorithm>
#include <cmath>

namespace mirravale::host::ui {

namespace {

constexpr double GAP = 12;    // between the settings window and the panel
constexpr double MARGIN = 8;  // between the panel and the edges of the visible area
constexpr double LIFT = 40;   // of the fallback place above the bottom of the visible area

double right(const core::Rect& r) {
    return r.x + r.width;
}
double bottom(const core::Rect& r) {
    return r.y + r.height;
}

// Left edge inclusive, right exclusive; top exclusive, bottom inclusive: a centre on the line
// between two stacked screens belongs to the upper one.
bool holds(const core::Rect& frame, double x, double y) {
    return x >= frame.x && x < right(frame) && y > frame.y && y <= bottom(frame);
}

}  // namespace

std::optional<core::Point> place_beside(const core::Rect& window,
                                        const std::vector<ScreenArea>& screens) {
    if (screens.empty()) {
        return std::nullopt;
    }
    const double cx = window.x + window.width / 2;
    const double cy = window.y + window.height / 2;
    const auto screen = std::find_if(screens.begin(), screens.end(),
                                     [&](const ScreenArea& s) { return holds(s.frame, cx, cy); });
    const core::Rect& v = (screen == screens.end() ? screens.front() : *screen).visible;

    double x = cx - GUIDE_WIDTH / 2;
    double y = bottom(window) + GAP;
    if (y + GUIDE_HEIGHT > bottom(v) - MARGIN) {
        // No room below: beside the window, bottoms aligned.
        y = bottom(window) - GUIDE_HEIGHT;
        x = right(window) + GAP;
        if (x + GUIDE_WIDTH > right(v)) {
            x = window.x - GAP - GUIDE_WIDTH;
        }
    }
    const double lowest_x = v.x + MARGIN;
    x = std::clamp(x, lowest_x, std::max(lowest_x, right(v) - GUIDE_WIDTH - MARGIN));
    y = std::min(y, bottom(v) - MARGIN - GUIDE_HEIGHT);
    return core::Point{x, y};
}

core::Point place_fallback(const core::Rect& main_visible) {
    return {main_visible.x + (main_visible.width - GUIDE_WIDTH) / 2,
            bottom(main_visible) - LIFT - GUIDE_HEIGHT};
}

bool worth_moving(core::Point current, core::Point target) {
    return std::abs(current.x - target.x) > 0.5 || std::abs(current.y - target.y) > 0.5;
}

}  // namespace mirravale::host::ui
