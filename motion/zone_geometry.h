#pragma once
// How a zone frame may move and grow over the picture: pure rectangle rules, in one coordinate
// space for the frame and the picture (right and bottom exclusive).

#include <algorithm>

struct ZoneRect
{
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const ZoneRect&) const = default;
};

// The frame's size limits, caption and border included.
inline constexpr int kZoneMinWidth = 70;
inline constexpr int kZoneMinHeight = 90;
inline constexpr int kZoneMaxWidth = 640;
inline constexpr int kZoneMaxHeight = 480;

inline int LimitZoneWidth(int w)
{
    return std::clamp(w, kZoneMinWidth, kZoneMaxWidth);
}
inline int LimitZoneHeight(int h)
{
    return std::clamp(h, kZoneMinHeight, kZoneMaxHeight);
}

// A proposed move: accepted inside the picture, else slid back along the edges it crossed,
// keeping its size.
inline ZoneRect SlideIntoPicture(ZoneRect r, const ZoneRect& p)
{
    if (r.left >= p.left && r.top >= p.top && r.right <= p.right && r.bottom <= p.bottom)
        return r;
    const int w = r.Width(), h = r.Height();
    if (r.left < p.left) {
        r.left = p.left;
        r.right = p.left + w;
    }
    if (r.top < p.top) {
        r.top = p.top;
        r.bottom = p.top + h;
    }
    if (r.right > p.right) {
        r.right = p.right;
        r.left = p.right - w;
    }
    if (r.bottom > p.bottom) {
        r.bottom = p.bottom;
        r.top = p.bottom - h;
    }
    return r;
}

// A proposed size change: each edge stops at the picture's edge.
inline ZoneRect ClampToPicture(ZoneRect r, const ZoneRect& p)
{
    r.left = std::max(r.left, p.left);
    r.top = std::max(r.top, p.top);
    r.right = std::min(r.right, p.right);
    r.bottom = std::min(r.bottom, p.bottom);
    return r;
}

// A proposed size change: each edge stops at the picture's edge, then the size limits apply, kept
// by the edges that were not dragged. Limits applied before the clamp would let the clamp cut a
// frame that reaches past the picture below its minimum; where the picture cannot hold the
// minimum beside the fixed edge, the frame slides along the picture instead.
inline ZoneRect SizeInPicture(const ZoneRect& proposed, const ZoneRect& before, const ZoneRect& p)
{
    ZoneRect r = ClampToPicture(proposed, p);
    const int w = LimitZoneWidth(r.Width()), h = LimitZoneHeight(r.Height());
    if (proposed.left != before.left)
        r.left = r.right - w;
    else
        r.right = r.left + w;
    if (proposed.top != before.top)
        r.top = r.bottom - h;
    else
        r.bottom = r.top + h;
    return SlideIntoPicture(r, p);
}

// The frame's rectangle clipped to the picture, relative to the picture's top-left corner.
inline ZoneRect RectInPicture(const ZoneRect& w, const ZoneRect& p)
{
    return {std::max(w.left, p.left) - p.left, std::max(w.top, p.top) - p.top,
            std::min(w.right, p.right) - p.left, std::min(w.bottom, p.bottom) - p.top};
}
