// Host rectangles: 16-bit, bottom and right exclusive.
#pragma once

#include "base/host_api.h"

inline bool is_empty(const Rect16& r)
{
    return r.bottom <= r.top || r.right <= r.left;
}

// The same four numbers.
inline bool same_rect(const Rect16& a, const Rect16& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// The same pixels: an empty rectangle covers none, wherever it lies.
inline bool same_area(const Rect16& a, const Rect16& b)
{
    return is_empty(a) || is_empty(b) ? is_empty(a) && is_empty(b) : same_rect(a, b);
}

inline bool contains(const Rect16& outer, const Rect16& inner)
{
    return outer.top <= inner.top && outer.left <= inner.left && inner.bottom <= outer.bottom &&
           inner.right <= outer.right;
}
