#pragma once
// QR symbols of the pairing link: the module matrix, and its drawing with text characters.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirravale::host {

// Dark modules are true; level M, smallest version, no quiet zone. Nothing when the text does
// not fit a symbol.
struct QrModules {
    int size = 0;
    std::vector<bool> dark;  // row by row
    bool at(int x, int y) const { return dark[static_cast<std::size_t>(y * size + x)]; }
};
std::optional<QrModules> qr_modules(std::string_view text);

inline constexpr int QR_QUIET_ZONE = 4;

// Inverted half blocks, two module rows per line, with the quiet zone; no final line feed.
std::string terminal_qr(const QrModules& modules);

}  // namespace mirravale::host
