#pragma once
// The application's pictures: its icon (pairing window, guide panel, window list) and the
// tray's template picture, both decoded from PNGs built into the program.

#include <optional>

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace mirravale::host::ui {

// The application icon, at every size the window system asks for.
QIcon application_icon();

// The tray's 36 x 36 template: black shapes on transparency, meant to be tinted. Absent when the
// built-in PNG cannot be decoded; the tray then shows the title "Mirravale" instead.
std::optional<QPixmap> tray_template();

// The template tinted with `color` (its alpha kept), e.g. the palette's window text colour so it
// reads on the panel it sits in.
QPixmap tint_template(const QPixmap& template_pixmap, const QColor& color);

}  // namespace mirravale::host::ui
