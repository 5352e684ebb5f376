#pragma once
// Click-to-aim: which point of the stream's picture a click on the shown picture lies on, and the
// position command that turns the camera toward it.

#include "viewer/pan_tilt_aim.h"

#include <optional>
#include <string>

class CPaintStep;
struct PosterTimings;
namespace platform {
class Waiter;
}

// The offset for a click at panel point (x, y), taken back through what the view paints (zoom
// source rectangle, zoom percentage, flip, mirror, rotate) to the untransformed picture; nothing
// when the click misses the painted picture.
std::optional<PanTiltOffset> PanTiltOffsetForClick(const CPaintStep& view, int x, int y);

// Sends the command for a click on the UI thread and waits for the camera's reply; false when
// the click did not count or the request failed.
bool SendPanTiltClick(const CPaintStep& view, int x, int y, const std::string& url,
                      const std::string& user, const std::string& password,
                      const PosterTimings& timings, platform::Waiter* waiter = nullptr);
