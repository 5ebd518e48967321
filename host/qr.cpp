#include "host/qr.hpp"

#include <memory>

#include <qrencode.h>

namespace mirravale::host {

std::optional<QrModules> qr_modules(std::string_view text) {
    const std::string data(text);
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(data.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
    if (!code) {
        return std::nullopt;
    }
    QrModules modules;
    modules.size = code->width;
    modules.dark.resize(static_cast<std::size_t>(code->width * code->width));
    for (int i = 0; i < code->width * code->width; ++i) {
        modules.dark[static_cast<std::size_t>(i)] = (code->data[i] & 1) != 0;
    }
    return modules;
}

std::string terminal_qr(const QrModules& modules) {
    const int full = modules.size + 2 * QR_QUIET_ZONE;
    const auto light = [&](int x, int y) {
        x -= QR_QUIET_ZONE;
        y -= QR_QUIET_ZONE;
        const bool inside = x >= 0 && y >= 0 && x < modules.size && y < modules.size;
        return !inside || !modules.at(x, y);
    };
    std::string out;
    for (int y = 0; y < full; y += 2) {
        if (y > 0)
            out += '\n';
        for (int x = 0; x < full; ++x) {
            const bool upper = light(x, y);
            const bool lower = y + 1 < full && light(x, y + 1);
            out += upper && lower ? "█" : upper ? "▀" : lower ? "▄" : " ";
        }
    }
    return out;
}

}  // namespace mirravale::host
