#include "viewer/camera_query.h"
#include "viewer/paint_step.h"
#include "viewer/vuelo_ctrl.h"

#include "qt_env.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

// A picture whose every byte tells its row and byte position.
std::vector<uint8_t> Numbered(int width, int height, int stride)
{
    std::vector<uint8_t> p(size_t(stride) * size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            p[size_t(y) * size_t(stride) + size_t(x)] = uint8_t(y * 40 + x);
    return p;
}

const uint8_t* Pixel(const std::vector<uint8_t>& p, int stride, int row, int x)
{
    return p.data() + size_t(row) * size_t(stride) + size_t(x) * 3;
}

} // namespace

TEST(PaintStep, TransformsMoveWholePixels)
{
    const int w = 4, h = 2, stride = 12;
    const auto in = Numbered(w, h, stride);
    std::vector<uint8_t> out(in.size());

    CPaintStep::TransformRows(kTransformRotate, in.data(), out.data(), w, h, stride);
    // The scratch picture's first pixel is the picture's last row's last pixel.
    EXPECT_TRUE(std::equal(Pixel(out, stride, 0, 0), Pixel(out, stride, 0, 0) + 3, Pixel(in, stride, 1, 3)));
    EXPECT_TRUE(std::equal(Pixel(out, stride, 1, 3), Pixel(out, stride, 1, 3) + 3, Pixel(in, stride, 0, 0)));

    CPaintStep::TransformRows(kTransformMirror, in.data(), out.data(), w, h, stride);
    EXPECT_TRUE(std::equal(Pixel(out, stride, 0, 0), Pixel(out, stride, 0, 0) + 3, Pixel(in, stride, 0, 3)));
    EXPECT_TRUE(std::equal(Pixel(out, stride, 1, 1), Pixel(out, stride, 1, 1) + 3, Pixel(in, stride, 1, 2)));

    CPaintStep::TransformRows(kTransformFlip, in.data(), out.data(), w, h, stride);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + stride, in.begin() + stride));
}

TEST(PaintStep, SnapshotIsTheUntransformedPictureResampledToThePainterSize)
{
    const int w = 4, h = 2, stride = 12;
    auto in = Numbered(w, h, stride);
    auto same = CPaintStep::SnapshotDib(in.data(), w, h, stride, w, h);
    ASSERT_EQ(same.size(), 40u + 12u * 2u);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), same.begin() + 40));

    // Doubling: every second target pixel is an original one, those between are the mean.
    std::vector<uint8_t> flat(size_t(stride) * 2, 0);
    for (int x = 0; x < w; ++x)
        for (int row = 0; row < 2; ++row)
            std::fill_n(flat.begin() + row * stride + x * 3, 3, uint8_t(x * 60));
    auto big = CPaintStep::SnapshotDib(flat.data(), w, h, stride, 8, 4);
    const size_t outStride = 24;
    const uint8_t* top = big.data() + 40 + 3 * outStride; // the top target row
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[3], 30); // halfway between 0 and 60
    EXPECT_EQ(top[6], 60);
    EXPECT_EQ(top[21], 180); // past the last column the edge repeats
}

TEST(PaintStep, PaintDrawsAtTheVideoOriginScaledByZoomAndDisplay)
{
    CDrawSurface surface;
    CPaintStep step(&surface);
    step.SetSizes(4, 2);
    step.SetDisplaySize(8, 4);
    auto in = Numbered(4, 2, 12);
    step.Paint(in.data(), 4, 2, 12);
    surface.WithFrame([&](const uint32_t* px, SurfaceRect where) {
        EXPECT_EQ(where, (SurfaceRect{146, 3, 8, 4}));
        // Top-left shown pixel is the picture's top row (the last in memory), blue in the low byte.
        const uint8_t* p = Pixel(in, 12, 1, 0);
        EXPECT_EQ(px[0], 0xff000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    });
    step.SetZoomRect(2, 1, 2, 1);
    step.SetZoomActive(true);
    step.Paint(in.data(), 4, 2, 12);
    surface.WithFrame([&](const uint32_t* px, SurfaceRect) {
        const uint8_t* p = Pixel(in, 12, 0, 2); // source (2, 1) from the top = memory row 0
        EXPECT_EQ(px[0] & 0xff, p[0]);
    });
    // A zoom rectangle beyond the picture is clipped, never read past the end.
    step.SetZoomRect(3, 1, 50, 50);
    step.Paint(in.data(), 4, 2, 12);
    EXPECT_EQ(surface.FramesDrawn(), 3u);
}

TEST(PaintStep, BaseUrlsAndQueryRules)
{
    CameraUrls jpeg = BuildCameraUrls("http://cam:81/x/img/mjpeg.cgi?Speed=5", "jpeg");
    EXPECT_EQ(jpeg.base, "http://cam:81/x/");
    EXPECT_EQ(jpeg.panTilt, "http://cam:81/x/pt/ptctrl.cgi");
    EXPECT_EQ(BuildCameraUrls("http://cam:81/x/img/mjpeg.cgi", "mpeg").base, "");
    EXPECT_EQ(BuildCameraUrls("http://cam/img/video.asf", "mpeg").imageQuery, "http://cam/img/query.cgi");
    EXPECT_EQ(BuildCameraUrls("http://cam/other", "jpeg").utilQuery, "util/query.cgi");
    const std::string longBase = "http://cam/" + std::string(400, 'p') + "/";
    EXPECT_EQ(BuildCameraUrls(longBase + "img/mjpeg.cgi", "jpeg").imageQuery,
              longBase + "img/query.cgi"); // used whole, however long

    EXPECT_EQ(MJpegUrlWithRate("u", "5"), "u?Speed=5");
    EXPECT_EQ(MJpegUrlWithRate("u", "Fast"), "u");
    EXPECT_EQ(MJpegUrlWithRate("u", ""), "u");

    EXPECT_EQ(QueryValue("xtype=mpeg4\r\n", "type="), "mpeg4"); // no regard to line starts
    EXPECT_EQ(QueryValue("type=jpeg", "type="), "");            // no CR: empty
    EXPECT_FALSE(QueryValue("kind=jpeg\r\n", "type="));
    EXPECT_EQ(ResolutionEntries("320*240,640*480"), (std::vector<std::string>{"640x480", "320x240"}));
    EXPECT_EQ(SizeForResolutionText("160x120"), 320);
    EXPECT_EQ(SizeForResolutionText("160x128"), 160);
}

TEST(PanelZoom, ClicksPlaceTheZoomWindowAsTheGeometrySays)
{
    testsupport::TestApp();
    ViewerTimings t;
    t.setSizeWait = std::chrono::milliseconds(0);
    CViewerPanel panel(nullptr, t);
    CPaintStep& view = panel.MJpegPainter().View();
    view.SetSizes(320, 240);

    panel.OnZoom();
    EXPECT_TRUE(panel.ZoomArmed());
    panel.Click(146 + 400, 3 + 10); // outside the picture: nothing
    EXPECT_FALSE(panel.ZoomPlaced());
    panel.Click(146 + 10, 3 + 10);
    EXPECT_TRUE(panel.ZoomPlaced());
    EXPECT_EQ(panel.ZoomWindow()[0], 0);
    EXPECT_EQ(panel.ZoomWindow()[1], 0);
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{0, 0, 160, 120}));
    EXPECT_TRUE(view.ZoomActive());

    panel.OnZoom(); // off
    EXPECT_FALSE(view.ZoomActive());
    EXPECT_EQ(panel.ZoomWindow()[0], -1);
    panel.OnZoom();
    panel.Click(146 + 300, 3 + 200);
    EXPECT_EQ(panel.ZoomWindow()[0], 160);
    EXPECT_EQ(panel.ZoomWindow()[1], 120);
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{160, 120, 160, 120}));

    // A stream narrower than the display: the origin is scaled down in floating point.
    view.SetSizes(160, 120);
    view.SetDisplaySize(320, 240);
    panel.OnZoom();
    panel.OnZoom();
    panel.Click(146 + 300, 3 + 200);
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{80, 60, 80, 60}));
}

TEST(PanelZoom, TransformButtonsToggleAndExcludeEachOtherAndZoom)
{
    testsupport::TestApp();
    CViewerPanel panel;
    CPaintStep& view = panel.MJpegPainter().View();
    panel.OnFlip();
    EXPECT_EQ(view.Transform(), kTransformFlip);
    panel.OnFlip();
    EXPECT_EQ(view.Transform(), kTransformNone);
    EXPECT_FALSE(panel.FlipOn());
    panel.OnFlip();
    panel.OnMirror();
    EXPECT_EQ(view.Transform(), kTransformMirror);
    EXPECT_TRUE(panel.MirrorOn());
    EXPECT_FALSE(panel.FlipOn());
    panel.OnZoom(); // zoom clears the transforms
    EXPECT_EQ(view.Transform(), kTransformNone);
    EXPECT_FALSE(panel.MirrorOn());
    panel.OnRotate(); // and a transform switches zoom off
    EXPECT_FALSE(panel.ZoomArmed());
    EXPECT_EQ(view.Transform(), kTransformRotate);
}
