#pragma once
// Rectangles of the root window and the pointer's image drawn into a picture: the capture never
// contains the cursor, so it is blended in from what XFixes reports.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mirravale::platform {

// A rectangle of root-window pixels.
struct Region {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
    bool intersects(const Region& other) const;
    Region intersection(const Region& other) const;
    friend bool operator==(const Region&, const Region&) = default;
};

struct CursorImage {
    int width = 0;
    int height = 0;
    int xhot = 0;
    int yhot = 0;
    unsigned long serial = 0;
    std::vector<std::uint32_t> pixels;  // premultiplied ARGB, rows top to bottom
};

// XFixes hands cursor pixels over as `unsigned long`; only the low 32 bits hold the pixel.
std::vector<std::uint32_t> cursor_pixels(const unsigned long* pixels, std::size_t count);

// Blends the cursor over BGRA pixels with its top-left corner at (left, top) of them; what falls
// outside is cut off.
void composite_cursor(std::uint8_t* bgra, std::size_t stride, int width, int height,
                      const CursorImage& cursor, int left, int top);

// Where the cursor covers the root window with the pointer at (x, y).
Region cursor_area(const CursorImage& cursor, int x, int y);

}  // namespace mirravale::platform
