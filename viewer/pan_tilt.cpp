#include "viewer/pan_tilt.h"

#include "stream/http_poster.h"
#include "viewer/paint_step.h"

std::optional<PanTiltOffset> PanTiltOffsetForClick(const CPaintStep& view, int x, int y)
{
    PanTiltView values;
    values.pictureWidth = view.PictureWidth();
    values.pictureHeight = view.PictureHeight();
    values.displayWidth = view.DisplayWidth();
    values.displayHeight = view.DisplayHeight();
    values.zoomPercent = view.ZoomPercent();
    values.zoomActive = view.ZoomActive();
    if (values.zoomActive)
        values.zoomRect = view.ZoomRect();
    values.transform = view.Transform();
    return PanTiltOffsetForClick(values, x, y);
}

bool SendPanTiltClick(const CPaintStep& view, int x, int y, const std::string& url,
                      const std::string& user, const std::string& password,
                      const PosterTimings& timings, platform::Waiter* waiter)
{
    const std::optional<PanTiltOffset> offset = PanTiltOffsetForClick(view, x, y);
    if (!offset)
        return false;
    std::string reply;
    return CHttpPoster(kViewerPosterProfile, timings, waiter)
        .Request(reply, PanTiltCommand(url, *offset), false, user, password);
}
