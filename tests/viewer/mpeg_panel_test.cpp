// The viewer on the camera's ASF stream: MPEG-4 pictures decoded, converted and painted.

#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "qt_env.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

ViewerTimings Fast()
{
    ViewerTimings t;
    t.stopPlaySleep = 0ms;
    t.setSizeWait = 0ms;
    t.asf.openSettle = 10ms;
    t.asf.afterStart = 0ms;
    t.asf.stopSleep = 0ms;
    return t;
}

} // namespace

TEST(MpegPanel, PlaysTheAsfStreamSetsTheVideoCapAndZooms)
{
    testsupport::TestApp();
    for (const char* size : {"320x240", "640x480"}) {
        camsim::Config config;
        config.asfSize = size;
        camsim::Camera camera(config);
        ASSERT_TRUE(camera.Start());
        CViewerPanel panel(nullptr, Fast());
        // The page asks for Motion-JPEG; the camera's "type=mpeg4" switches to the ASF stream.
        panel.SetSource(camera.BaseUrl() + "img/mjpeg.cgi", "jpeg", "", "");
        panel.StartPlay(0, "");
        EXPECT_EQ(panel.FrameType(), "mpeg");
        ASSERT_TRUE(PumpUntil([&] { return panel.Stats().painted >= 5; }));
        const bool wide = std::string(size) == "640x480";
        EXPECT_EQ(panel.VideoCap(), wide ? 12 : 36);
        EXPECT_EQ(panel.Mpeg4Painter().View().PictureWidth(), wide ? 640 : 320);
        EXPECT_EQ(panel.Stats().decodeFailures, 0u);
        // The first picture went in with the stream's configuration headers in front.
        CMpeg4Painter& painter = panel.Mpeg4Painter();
        EXPECT_GT(painter.FirstInputLength(), 0u);
        EXPECT_NE(painter.FirstInputLength(), painter.LastInputLength());
        panel.Surface().WithFrame([&](const SurfaceFrame& f) {
            EXPECT_EQ(f.width, wide ? 640 : 320);
            EXPECT_EQ(f.where, (SurfaceRect{146, 3, wide ? 640 : 320, wide ? 480 : 240}));
        });
        if (!wide) {
            panel.SetZoomPercent(50);
            const uint64_t before = panel.Stats().painted;
            ASSERT_TRUE(PumpUntil([&] { return panel.Stats().painted >= before + 3; }));
            panel.Surface().WithFrame([&](const SurfaceFrame& f) {
                EXPECT_EQ(f.where, (SurfaceRect{146, 3, 160, 120}));
            });
        }
        panel.StopPlay();
        EXPECT_TRUE(panel.AsfPlayer().Finished());
        EXPECT_FALSE(panel.Mpeg4Painter().DecoderOpen());

        const uint64_t before = panel.Stats().painted;
        panel.StartPlay(0, "");
        ASSERT_TRUE(PumpUntil([&] { return panel.Stats().painted >= before + 3; }));
        panel.StopPlay();
    }
}
