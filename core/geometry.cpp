#include "core/geometry.hpp"

#include <algorithm>
#include <cmath>

namespace mirravale::core {
namespace {

// std::clamp hands a NaN straight back; a pointer position must always be a real point.
double limit(double value, double low, double high) {
    return std::isnan(value) ? low : std::clamp(value, low, high);
}

float unit_fraction(double value) {
    return static_cast<float>(limit(value, 0.0, 1.0));
}

}  // namespace

Point Rect::clamp(Point p) const {
    return {limit(p.x, x, x + std::max(width - 1, 0.0)),
            limit(p.y, y, y + std::max(height - 1, 0.0))};
}

bool Rect::contains(Point p) const {
    return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height;
}

Point absolute_point(const Rect& frame, double x, double y) {
    return frame.clamp(
        {frame.x + limit(x, 0.0, 1.0) * frame.width, frame.y + limit(y, 0.0, 1.0) * frame.height});
}

Point relative_point(Point base, const Rect& frame, double dx, double dy) {
    return {base.x + dx * frame.width, base.y + dy * frame.height};
}

CursorReport cursor_report(const Rect& frame, Point pointer) {
    if (!(frame.width > 0 && frame.height > 0)) {
        return {};
    }
    return {unit_fraction(static_cast<float>((pointer.x - frame.x) / frame.width)),
            unit_fraction(static_cast<float>((pointer.y - frame.y) / frame.height)),
            frame.contains(pointer)};
}

}  // namespace mirravale::core
