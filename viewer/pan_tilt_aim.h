#pragma once
// Click-to-aim arithmetic on plain view values, so that it can be reached without a painter or a
// widget: the viewer's click and camhost's ptz tool send the same command for the same click.

#include "viewer/draw_surface.h"

#include <optional>
#include <string>

// The command's offsets: right of and above the picture's centre, in the camera's units.
struct PanTiltOffset
{
    int h = 0;
    int v = 0;
    bool operator==(const PanTiltOffset&) const = default;
};

// What the view paints: the stream's picture, the display size it is shown at, the zoom and
// the turn (CDrawSurface::Turn).
struct PanTiltView
{
    int pictureWidth = 0, pictureHeight = 0;
    int displayWidth = 0, displayHeight = 0;
    int zoomPercent = 100;
    bool zoomActive = false;
    SurfaceRect zoomRect;
    int transform = CDrawSurface::kAsIs;
};

// The offset for a click at panel point (x, y), the picture being painted at (146, 3), taken back
// through the zoom and the turn to the untransformed picture; nothing when the click misses the
// painted picture.
std::optional<PanTiltOffset> PanTiltOffsetForClick(const PanTiltView& view, int x, int y);

// "<url>?position=<h>,<v>,10".
std::string PanTiltCommand(const std::string& url, PanTiltOffset offset);
