#include "platform-linux/capture_cursor.hpp"

#include <algorithm>

namespace mirravale::platform {
namespace {

std::uint8_t blend(std::uint8_t over, std::uint8_t under, std::uint32_t transparency) {
    return static_cast<std::uint8_t>(
        std::min<std::uint32_t>(255, over + (under * transparency + 127) / 255));
}

}  // namespace

bool Region::intersects(const Region& other) const {
    return !intersection(other).empty();
}

Region Region::intersection(const Region& other) const {
    const int left = std::max(x, other.x);
    const int top = std::max(y, other.y);
    const int right = std::min(x + width, other.x + other.width);
    const int bottom = std::min(y + height, other.y + other.height);
    if (right <= left || bottom <= top) {
        return Region{left, top, 0, 0};
    }
    return Region{left, top, right - left, bottom - top};
}

std::vector<std::uint32_t> cursor_pixels(const unsigned long* pixels, std::size_t count) {
    std::vector<std::uint32_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint32_t>(pixels[i] & 0xFFFFFFFFu);
    }
    return out;
}

void composite_cursor(std::uint8_t* bgra, std::size_t stride, int width, int height,
                      const CursorImage& cursor, int left, int top) {
    const int x0 = std::max(0, left);
    const int y0 = std::max(0, top);
    const int x1 = std::min(width, left + cursor.width);
    const int y1 = std::min(height, top + cursor.height);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = bgra + static_cast<std::size_t>(y) * stride;
        const std::uint32_t* source =
            cursor.pixels.data() + static_cast<std::size_t>(y - top) * cursor.width;
        for (int x = x0; x < x1; ++x) {
            const std::uint32_t p = source[x - left];
            const std::uint32_t alpha = p >> 24;
            if (alpha == 0 && (p & 0xFFFFFFu) == 0) {
                continue;
            }
            std::uint8_t* pixel = row + 4 * x;
            // Premultiplied: the cursor's colour is added to what shows through it.
            const std::uint32_t transparency = 255 - alpha;
            pixel[0] = blend(static_cast<std::uint8_t>(p), pixel[0], transparency);
            pixel[1] = blend(static_cast<std::uint8_t>(p >> 8), pixel[1], transparency);
            pixel[2] = blend(static_cast<std::uint8_t>(p >> 16), pixel[2], transparency);
        }
    }
}

Region cursor_area(const CursorImage& cursor, int x, int y) {
    return Region{x - cursor.xhot, y - cursor.yhot, cursor.width, cursor.height};
}

}  // namespace mirravale::platform
