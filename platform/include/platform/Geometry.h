#pragma once
// Points, sizes and rectangles in points (not pixels).

#include <algorithm>

namespace platform {

struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};
struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};
struct Rect {
    Point origin;
    Size size;
    Rect() = default;
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    bool contains(Point p) const {
        return p.x >= origin.x && p.y >= origin.y && p.x < origin.x + size.width && p.y < origin.y + size.height;
    }
    bool operator==(const Rect&) const = default;
};

// Interface orientations, numbered as the platform numbers them.
enum class InterfaceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4,
};
inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeRight || o == InterfaceOrientation::LandscapeLeft;
}
// The rectangle turned for the orientation: its long side across in landscape.
inline Rect orientedRect(const Rect& r, InterfaceOrientation o) {
    const double shortSide = std::min(r.width(), r.height()), longSide = std::max(r.width(), r.height());
    return isLandscape(o) ? Rect(r.x(), r.y(), longSide, shortSide) : Rect(r.x(), r.y(), shortSide, longSide);
}

}  // namespace platform
