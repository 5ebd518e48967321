#include "core/geometry.hpp"

#include <algorithm>

namespace mirravale::core {

Point Rect::clamp(Point p) const {
    return {std::clamp(p.x, x, x + std::max(width - 1, 0.0)),
            std::clamp(p.y, y, y + std::max(height - 1, 0.0))};
}

bool Rect::contains(Point p) const {
    return p.x >= x && p.x < x + width && p.y >= y && p.y < y + height;
}

}  // namespace mirravale::core
