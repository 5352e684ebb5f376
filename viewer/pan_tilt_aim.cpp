#include "viewer/pan_tilt_aim.h"

#include "viewer/paint_step.h"

#include <algorithm>
#include <cstdint>

std::optional<PanTiltOffset> PanTiltOffsetForClick(const PanTiltView& view, int x, int y)
{
    const int pw = view.pictureWidth, ph = view.pictureHeight;
    const int64_t percent = view.zoomPercent;
    // The painted rectangle, as the paint step sizes it.
    const int dw = int(percent * view.displayWidth / 100);
    const int dh = int(percent * view.displayHeight / 100);
    if (dw <= 0 || dh <= 0 || pw <= 0 || ph <= 0)
        return std::nullopt;
    if (x < kVideoLeft || x > dw + kVideoLeft || y < kVideoTop || y > dh + kVideoTop)
        return std::nullopt;

    // The part of the turned picture stretched over that rectangle, clipped as the surface clips.
    SurfaceRect src{0, 0, pw, ph};
    if (view.zoomActive) {
        src = view.zoomRect;
        src.x = std::clamp(src.x, 0, pw);
        src.y = std::clamp(src.y, 0, ph);
        src.width = std::clamp(src.width, 0, pw - src.x);
        src.height = std::clamp(src.height, 0, ph - src.y);
        if (src.width == 0 || src.height == 0)
            return std::nullopt;
    }

    // From the painted centre in display pixels to the turned picture's centre in its own; the
    // arithmetic (integer centre, single-precision vertical scale) is the camera's of old, so an
    // untransformed, unzoomed view sends what it always did.
    const int cx = dw / 2 + kVideoLeft, cy = dh / 2 + kVideoTop;
    const double sx = double(dw) / src.width;
    const float sy = float(double(dh) / src.height);
    double right = (x - cx) / sx + (src.x + src.width / 2.0 - pw / 2.0);
    float down = float(y - cy) / sy + float(src.y + src.height / 2.0 - ph / 2.0);

    // Every turn is symmetric about the centre: back to the camera's own picture by sign.
    const int turn = view.transform;
    if (turn == kTransformMirror || turn == kTransformRotate)
        right = -right;
    if (turn == kTransformFlip || turn == kTransformRotate)
        down = -down;

    PanTiltOffset offset;
    offset.h = int(right);
    if (pw == 704)
        offset.h = int(float(offset.h) * 0.90909094f); // 640/704 in single precision
    const int t = int(-down);
    offset.v = int(t * 0.9375); // 15/16
    return offset;
}

std::string PanTiltCommand(const std::string& url, PanTiltOffset offset)
{
    return url + "?position=" + std::to_string(offset.h) + "," + std::to_string(offset.v) + ",10";
}
