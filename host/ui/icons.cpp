#include "host/ui/icons.hpp"

#include <QImage>
#include <QPainter>

namespace mirravale::host::ui {

namespace {

// Built into the program from host/resources.
constexpr auto APPLICATION_PNG = ":/mirravale/mirravale.png";
constexpr auto TRAY_PNG = ":/mirravale/tray.png";

}  // namespace

QIcon application_icon() {
    return QIcon(APPLICATION_PNG);
}

std::optional<QPixmap> tray_template() {
    QPixmap pixmap;
    if (!pixmap.load(TRAY_PNG, "PNG")) {
        return std::nullopt;
    }
    // 36 pixels drawn for an 18-point place: sharp on screens of two pixels per point.
    pixmap.setDevicePixelRatio(2.0);
    return pixmap;
}

QPixmap tint_template(const QPixmap& template_pixmap, const QColor& color) {
    QImage image = template_pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap tinted = QPixmap::fromImage(image);
    tinted.setDevicePixelRatio(template_pixmap.devicePixelRatio());
    return tinted;
}

}  // namespace mirravale::host::ui
