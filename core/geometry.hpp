#pragma once
// Points and rectangles in global display points: origin at the top-left of the main display,
// y growing downwards. Also the arithmetic that maps the phone's pointer fractions onto a
// display's frame and back.

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

    // The point moved into the rectangle, at most to its last whole point before the right and
    // bottom edges. A coordinate that is not a number lands on the left or top edge.
    Point clamp(Point p) const;
    // Left and top edges inside, right and bottom edges outside.
    bool contains(Point p) const;
    Point centre() const { return {x + width / 2, y + height / 2}; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Where `PointerAbsolute` puts the pointer: fractions of the frame, each limited to 0..1, kept
// inside the frame (x = 1 is the last point, not the next display's first).
Point absolute_point(const Rect& frame, double x, double y);

// Where `PointerRelative` aims before any clamping: `base` moved by fractions of the frame's size.
Point relative_point(Point base, const Rect& frame, double dx, double dy);

// What the phone is told about the pointer: its place as fractions of the frame, each limited
// to 0..1, and whether it lies inside. A frame without area gives 0, 0, outside.
struct CursorReport {
    float x = 0;
    float y = 0;
    bool inside = false;
    friend bool operator==(const CursorReport&, const CursorReport&) = default;
};
CursorReport cursor_report(const Rect& frame, Point pointer);

}  // namespace mirravale::core
