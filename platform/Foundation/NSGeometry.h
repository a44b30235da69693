// Points, sizes and rectangles. Coordinates are 32-bit floats; frames are in
// screen coordinates with y growing upward and a rectangle's origin at its
// bottom-left corner.
#pragma once

struct NSPoint {
    float x;
    float y;
};

struct NSSize {
    float width;
    float height;
};

struct NSRect {
    NSPoint origin;
    NSSize size;
};

inline NSPoint NSMakePoint(float x, float y) { return {x, y}; }
inline NSSize NSMakeSize(float width, float height) { return {width, height}; }
inline NSRect NSMakeRect(float x, float y, float width, float height) { return {{x, y}, {width, height}}; }

inline constexpr NSPoint NSZeroPoint = {0, 0};
inline constexpr NSSize NSZeroSize = {0, 0};
inline constexpr NSRect NSZeroRect = {{0, 0}, {0, 0}};

inline bool NSEqualPoints(NSPoint a, NSPoint b) { return a.x == b.x && a.y == b.y; }
inline bool NSEqualSizes(NSSize a, NSSize b) { return a.width == b.width && a.height == b.height; }
inline bool NSEqualRects(NSRect a, NSRect b) { return NSEqualPoints(a.origin, b.origin) && NSEqualSizes(a.size, b.size); }

inline float NSMinX(NSRect r) { return r.origin.x; }
inline float NSMinY(NSRect r) { return r.origin.y; }
inline float NSMaxX(NSRect r) { return r.origin.x + r.size.width; }
inline float NSMaxY(NSRect r) { return r.origin.y + r.size.height; }
inline float NSWidth(NSRect r) { return r.size.width; }
inline float NSHeight(NSRect r) { return r.size.height; }

// Whether the point lies in the rectangle: its left and bottom edges belong to
// it, its right and top edges do not.
inline bool NSPointInRect(NSPoint p, NSRect r)
{
    return p.x >= NSMinX(r) && p.x < NSMaxX(r) && p.y >= NSMinY(r) && p.y < NSMaxY(r);
}
