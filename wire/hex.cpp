#include "wire/hex.hpp"

namespace mirravale::wire {

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out.push_back(DIGITS[b >> 4]);
        out.push_back(DIGITS[b & 0x0F]);
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool from_hex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() != 2 * out.size()) {
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = hex_digit(text[2 * i]);
        const int low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace mirravale::wire
