#pragma once
// Where the permission guide panel goes, as a pure function of rectangles.
//
// Coordinates are the desktop's global ones, origin at the top left, y growing downwards (the X
// root window's, which Qt also uses). "Below" therefore means a larger y, and a panel's bottom
// edge is its y plus its height.

#include <optional>
#include <vector>

#include "core/geometry.hpp"

namespace mirravale::host::ui {

inline constexpr double GUIDE_WIDTH = 400;
inline constexpr double GUIDE_HEIGHT = 124;

// One screen: its whole rectangle and the part not taken by panels and docks.
struct ScreenArea {
    core::Rect frame;
    core::Rect visible;
};

// The panel's top-left corner next to the settings window `window`: centred 12 points under it
// when that leaves 8 points above the bottom of its screen's visible area, else beside it with
// the bottoms aligned (right when it fits, else left), kept inside that visible area with an
// 8-point margin. The window's screen is the first whose frame holds its centre, else the first
// (primary) screen. No screens at all: no placement.
std::optional<core::Point> place_beside(const core::Rect& window,
                                        const std::vector<ScreenArea>& screens);

// The panel's top-left corner when no settings window turns up: horizontally centred, its
// bottom 40 points above the bottom of the main screen's visible area.
core::Point place_fallback(const core::Rect& main_visible);

// Moves of half a point or less are not worth making (they would make the panel shiver).
bool worth_moving(core::Point current, core::Point target);

}  // namespace mirravale::host::ui
