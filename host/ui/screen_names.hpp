#pragma once
// The names the desktop gives its screens, handed to the display list so a phone sees them.
// Qt's screens and the X11 display list are matched by their rectangles on the root window.

#include <string>
#include <vector>

#include <QRect>

#include "core/ports.hpp"
#include "platform-linux/system.hpp"

namespace mirravale::host::ui {

struct ScreenEntry {
    std::string name;
    QRect geometry;  // in root-window pixels
};

// One (id, name) per screen, in screen order, for the first display not yet taken with the same
// rectangle; screens without such a display, or without a name, are left out.
platform::DisplayNames names_for_screens(const std::vector<ScreenEntry>& screens,
                                         const std::vector<core::Display>& displays);

// QGuiApplication's screens in its order, each named by its model when the monitor says what it
// is, else by its connector.
std::vector<ScreenEntry> current_screens();

}  // namespace mirravale::host::ui
