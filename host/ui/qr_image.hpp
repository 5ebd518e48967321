#pragma once
// The pairing link as a picture: 8 pixels per module, a quiet zone of 4 modules, dark modules in
// the window's ink colour on white.

#include <optional>
#include <string_view>

#include <QColor>
#include <QImage>

namespace mirravale::host::ui {

inline constexpr int QR_PIXELS_PER_MODULE = 8;
inline const QColor QR_DARK{23, 20, 46};

// Nothing when the text does not fit a symbol.
std::optional<QImage> qr_image(std::string_view link);

}  // namespace mirravale::host::ui
