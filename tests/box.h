// A rectangle as left, top, width and height, printed readably when a check fails.
#pragma once

#include <windows.h>

#include <ostream>

struct Box {
    long left, top, width, height;
    bool operator==(const Box& o) const {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Box& b) {
    return out << "(" << b.left << ", " << b.top << ", " << b.width << " x " << b.height << ")";
}

inline Box BoxOf(const RECT& r) { return {r.left, r.top, r.right - r.left, r.bottom - r.top}; }
