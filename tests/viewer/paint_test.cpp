#include "viewer/camera_query.h"
#include "viewer/paint_step.h"
#include "viewer/vuelo_ctrl.h"

#include "codec/image_file.h"
#include "codec/image_holder.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include "qt_env.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

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

// A JPEG of one flat colour; bpp 8 makes it grey.
std::vector<uint8_t> FlatJpeg(int width, int height, int bpp, uint8_t value)
{
    CImageHolder h;
    uint8_t* dib = h.Create(uint32_t(width), uint32_t(height), uint32_t(bpp));
    for (uint32_t i = 0; i < h.GetNumColors(); ++i)
        std::fill_n(dib + kImageInfoHeaderSize + 4 * i, 3, uint8_t(i));
    std::fill_n(h.GetBits(), size_t(h.GetEffWidth()) * h.GetHeight(), value);
    CImageMemFile out;
    EXPECT_TRUE(h.Encode(out, FormatJpeg));
    const uint8_t* bytes = out.GetBuffer(false);
    return std::vector<uint8_t>(bytes, bytes + size_t(out.Size()));
}

void QueuedCopy(CFrameChain& queue, const std::vector<uint8_t>& frame)
{
    uint8_t* data = AllocFrameData(int32_t(frame.size()));
    std::copy(frame.begin(), frame.end(), data);
    queue.Add(data, int32_t(frame.size()), 0);
}

} // namespace

TEST(PaintStep, TurnsMoveWholePixels)
{
    const int w = 4, h = 2, stride = 12;
    const auto in = Numbered(w, h, stride);
    CDrawSurface surface;
    auto shown = [&](int turn, int x, int y) {
        std::vector<uint8_t> px;
        surface.Draw(in.data(), w, h, stride, {0, 0, w, h}, {0, 0, w, h}, turn);
        surface.WithFrame([&](const SurfaceFrame& f) {
            const uint8_t* p = f.pixels + size_t(y) * size_t(f.stride) + size_t(x) * 3;
            px.assign(p, p + 3);
        });
        return px;
    };
    auto picture = [&](int memoryRow, int x) {
        const uint8_t* p = Pixel(in, stride, memoryRow, x);
        return std::vector<uint8_t>(p, p + 3);
    };
    // Shown rows count from the top; the picture's memory rows from the bottom.
    EXPECT_EQ(shown(kTransformNone, 0, 0), picture(1, 0));
    // Rotated, the bottom-left shown pixel (the first of the turned picture in memory) is the last
    // pixel of the picture's last memory row, and the top-left is the first row's last pixel.
    EXPECT_EQ(shown(kTransformRotate, 0, 1), picture(1, 3));
    EXPECT_EQ(shown(kTransformRotate, 0, 0), picture(0, 3));
    EXPECT_EQ(shown(kTransformRotate, 3, 0), picture(0, 0));
    EXPECT_EQ(shown(kTransformMirror, 0, 0), picture(1, 3));
    EXPECT_EQ(shown(kTransformMirror, 1, 1), picture(0, 2));
    EXPECT_EQ(shown(kTransformFlip, 2, 0), picture(0, 2));

    // The word-at-a-time reversal agrees with pixel by pixel for every length and remainder.
    for (int count = 0; count < 23; ++count) {
        std::vector<uint8_t> src(size_t(count) * 3), fast(src.size() + 1, 0xEE), slow(src.size());
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = uint8_t(i * 7 + 1);
        CDrawSurface::ReversePixels(fast.data(), src.data(), count);
        for (int i = 0; i < count; ++i)
            std::copy_n(src.begin() + (count - 1 - i) * 3, 3, slow.begin() + i * 3);
        EXPECT_TRUE(std::equal(slow.begin(), slow.end(), fast.begin())) << count;
        EXPECT_EQ(fast.back(), 0xEE) << "wrote past the end at " << count;
    }
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
    surface.WithFrame([&](const SurfaceFrame& f) {
        EXPECT_EQ(f.where, (SurfaceRect{146, 3, 8, 4}));
        EXPECT_EQ(f.width, 4);
        EXPECT_EQ(f.stride, 12);
        // The surface's top row is the picture's top row, the last in memory.
        EXPECT_TRUE(std::equal(f.pixels, f.pixels + 12, Pixel(in, 12, 1, 0)));
    });
    step.SetZoomPercent(50);
    step.SetZoomRect(2, 1, 2, 1);
    step.SetZoomActive(true);
    step.Paint(in.data(), 4, 2, 12);
    surface.WithFrame([&](const SurfaceFrame& f) {
        EXPECT_EQ(f.where, (SurfaceRect{146, 3, 4, 2}));
        EXPECT_EQ(f.width, 2);
        EXPECT_EQ(f.height, 1);
        EXPECT_EQ(f.stride, 8); // padded to 4 bytes
        EXPECT_TRUE(std::equal(f.pixels, f.pixels + 6, Pixel(in, 12, 0, 2)));
    });
    // A zoom rectangle beyond the picture is clipped, never read past the end.
    step.SetZoomRect(3, 1, 50, 50);
    step.Paint(in.data(), 4, 2, 12);
    surface.WithFrame([&](const SurfaceFrame& f) {
        EXPECT_EQ(f.width, 1);
        EXPECT_EQ(f.height, 1);
    });
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

TEST(PaintStep, DeclaredSizesBeyondTheLargestPictureAllocateNothing)
{
    struct Case
    {
        int width, height, zoomPercent;
        SurfaceRect where;
        bool snapshot;
    } cases[] = {
        {320, 240, 50, {146, 3, 160, 120}, true},
        {8000, 8000, 100, {146, 3, 704, 480}, false},
        {0x7FFFFFFF, 0x7FFFFFFF, 10000000, {146, 3, 704 * 4, 480 * 4}, false},
    };
    auto in = Numbered(4, 2, 12);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        CDrawSurface surface;
        CPaintStep step(&surface);
        step.SetSizes(c.width, c.height);
        step.SetZoomPercent(c.zoomPercent);
        step.RequestSnapshot();
        step.Paint(in.data(), 4, 2, 12);
        surface.WithFrame([&](const SurfaceFrame& f) { EXPECT_EQ(f.where, c.where); });
        EXPECT_FALSE(step.SnapshotRequested());
        auto snapshot = step.TakeSnapshot();
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->IsValid(), c.snapshot);
    }
}

TEST(MJpegPainter, GreyPicturesArePaintedAndSnapshottedAs24Bit)
{
    CFrameChain queue;
    CPanelClock clock;
    CDrawSurface surface;
    platform::MessageQueue panel;
    CMJpegPainter painter(queue, clock, &surface, &panel);
    painter.Prepare(16, 8);
    painter.View().RequestSnapshot();
    QueuedCopy(queue, FlatJpeg(16, 8, 8, 0x80));
    ASSERT_TRUE(painter.Start());
    for (int i = 0; i < 20000 && painter.Painted() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    painter.Shutdown();
    ASSERT_EQ(painter.Painted(), 1u);
    surface.WithFrame([](const SurfaceFrame& f) {
        EXPECT_EQ(f.width, 16);
        EXPECT_NEAR(f.pixels[0], 0x80, 2);
        EXPECT_EQ(f.pixels[0], f.pixels[2]);
    });
    auto snapshot = painter.View().TakeSnapshot();
    ASSERT_TRUE(snapshot && snapshot->IsValid());
    EXPECT_EQ(snapshot->GetBpp(), 24u);
    EXPECT_NEAR(snapshot->GetBits()[0], 0x80, 2);
}

TEST(MJpegPainter, APictureThatDoesNotDecodeEndsThePainterWith430)
{
    std::vector<uint8_t> junk(100, 0x5A);
    // A small picture that claims 8000 x 8000 and ends early: libjpeg would fill the rest in.
    // The comment makes it as long as such a picture must be to pass for real data.
    std::vector<uint8_t> huge = FlatJpeg(16, 16, 24, 0x40);
    size_t sof = 2;
    while (!(huge[sof] == 0xFF && huge[sof + 1] == 0xC0))
        ++sof;
    huge[sof + 5] = huge[sof + 7] = 8000 >> 8;
    huge[sof + 6] = huge[sof + 8] = 8000 & 0xFF;
    std::vector<uint8_t> comment = {0xFF, 0xFE, 8002 >> 8, 8002 & 0xFF};
    comment.resize(8004, ' ');
    huge.insert(huge.begin() + 2, comment.begin(), comment.end());

    for (const auto& frame : {junk, huge}) {
        SCOPED_TRACE(frame.size());
        CFrameChain queue;
        CPanelClock clock;
        CDrawSurface surface;
        platform::MessageQueue panel;
        CMJpegPainter painter(queue, clock, &surface, &panel);
        painter.Prepare(320, 240);
        EXPECT_TRUE(panel.TakeMessage(WM_VIDEO_READY, std::chrono::seconds(1)));
        QueuedCopy(queue, frame);
        ASSERT_TRUE(painter.Start());
        auto result = panel.TakeMessage(WM_PLAYER_RESULT, std::chrono::seconds(20));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->wParam, 430u);
        EXPECT_FALSE(painter.Ready());
        EXPECT_EQ(painter.DecodeFailures(), 1u);
        EXPECT_EQ(painter.Painted(), 0u);
        EXPECT_EQ(queue.GetCount(), 0);
    }
}
