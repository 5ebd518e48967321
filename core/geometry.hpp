#pragma once
// Points and rectangles in global display points: origin at the top-left of the main display,
// y growing downwards.

namespace mirravale::core {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    // The point moved into the rectangle; the right and bottom edges themselves lie outside.
    Point clamp(Point p) const;
    // Left and top edges inside, right and bottom edges outside.
    bool contains(Point p) const;
    Point centre() const { return {x + width / 2, y + height / 2}; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace mirravale::core
