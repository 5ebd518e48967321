#include "host/ui/qr_image.hpp"

#include "host/qr.hpp"

namespace mirravale::host::ui {

std::optional<QImage> qr_image(std::string_view link) {
    const auto modules = qr_modules(link);
    if (!modules) {
        return std::nullopt;
    }
    const int side = (modules->size + 2 * QR_QUIET_ZONE) * QR_PIXELS_PER_MODULE;
    QImage image(side, side, QImage::Format_RGB888);
    if (image.isNull()) {
        return std::nullopt;
    }
    image.fill(Qt::white);
    const QRgb dark = QR_DARK.rgb();
    for (int my = 0; my < modules->size; ++my) {
        for (int mx = 0; mx < modules->size; ++mx) {
            if (!modules->at(mx, my)) {
                continue;
            }
            const int left = (mx + QR_QUIET_ZONE) * QR_PIXELS_PER_MODULE;
            const int top = (my + QR_QUIET_ZONE) * QR_PIXELS_PER_MODULE;
            for (int y = top; y < top + QR_PIXELS_PER_MODULE; ++y) {
                for (int x = left; x < left + QR_PIXELS_PER_MODULE; ++x) {
                    image.setPixel(x, y, dark);
                }
            }
        }
    }
    return image;
}

}  // namespace mirravale::host::ui
