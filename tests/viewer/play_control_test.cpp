// The play life cycle on the panel's real clients, painters and audio player, without widgets,
// so that the thread sanitizer can follow it.

#include "viewer/play_control.h"

#include "camsim/camera.h"
#include "codec/audio/audio_player.h"
#include "codec/audio/sound_device.h"
#include "stream/asf_player.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_player.h"
#include "viewer/draw_surface.h"
#include "viewer/mjpeg_painter.h"
#include "viewer/mpeg4_painter.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

MJpegPlayerTimings FastMJpeg()
{
    MJpegPlayerTimings t;
    t.openSettle = 10ms;
    t.afterStart = 0ms;
    t.stopSleep = 0ms;
    return t;
}

// What the panel owns, in its order, with a message queue for its window.
struct PanelWorkers
{
    PanelWorkers()
    {
        play.Attach({asf, mjpeg, mpegPainter, mjpegPainter, audioPlayer, clock});
        play.AcceptResults();
    }

    platform::MessageQueue window;
    CPlayControl play{window, PlayTimings{0ms, 20000}};
    CFrameChain video, audio;
    CPanelClock clock;
    CDrawSurface surface;
    std::atomic<int> videoCap{kInitialVideoCap};
    CAudioPlayer audioPlayer{audio, clock, &play,
                             CAudioPlayer::DeviceFromOptions({audio::SoundBackend::Virtual, ""})};
    CMpeg4Painter mpegPainter{video, clock, videoCap, &surface, &play};
    CMJpegPainter mjpegPainter{video, clock, &surface, &play};
    CAsfPlayer asf{kViewerAsfProfile, video, &audio, mpegPainter, &audioPlayer, &play, &videoCap};
    CMJpegPlayer mjpeg{video, audio, mjpegPainter, &audioPlayer, &play, FastMJpeg()};
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

PlayRequest MJpegRequest(const camsim::Camera& camera)
{
    PlayRequest request;
    request.url = camera.BaseUrl() + "img/mjpeg.cgi";
    return request;
}

} // namespace

TEST(ViewerPlay, ADropPostedBeforeTheStopAsksForNothingAndOneAfterAStartRestarts)
{
    camsim::Config config;
    config.videoType = "jpeg";
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    camsim::Fault cut;
    cut.closeAfterBytes = 40000;
    camera.SetFault("img/mjpeg.cgi", cut);
    PanelWorkers w;

    for (bool stopped : {true, false}) {
        SCOPED_TRACE(stopped ? "stopped" : "running");
        ASSERT_TRUE(w.play.Start(MJpegRequest(camera)));
        ASSERT_TRUE(WaitFor([&] { return w.mjpeg.Finished(); }));
        if (stopped)
            w.play.Stop(); // must leave the drop's result posted: nothing waits below
        else
            ASSERT_TRUE(WaitFor([&] { return w.window.Size() > 0; }));
        auto result = w.window.TakeMessage(WM_PLAYER_RESULT, 0ms);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->wParam, uintptr_t(kResultRead));
        EXPECT_EQ(w.play.OnResult(int(result->wParam), result->lParam),
                  stopped ? ResultAction::Ignore : ResultAction::Restart);
        w.play.Stop();
        while (w.window.Take(0ms)) {
        }
    }
}

TEST(ViewerPlay, NewCameraUrlsWaitForTheConnectingClientToStop)
{
    camsim::Config config;
    config.videoType = "jpeg";
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    camsim::Fault hang;
    hang.hang = true;
    camera.SetFault("img/mjpeg.cgi", hang);
    PanelWorkers w;
    const std::string base = camera.BaseUrl();
    w.play.HandOver(base + "img/video.asf", base + "img/mjpeg.cgi", "", "");
    ASSERT_TRUE(w.play.Start(MJpegRequest(camera)));
    ASSERT_TRUE(WaitFor([&] { return camera.RequestsArrived() > 0; }));

    // SetSource's hand-over while the client waits for the camera's reply.
    w.play.HandOver(base + "other/video.asf", base + "other/mjpeg.cgi", "admin", "secret");
    EXPECT_TRUE(w.play.Running());
    w.play.Stop();
    EXPECT_FALSE(w.play.Running());
    w.play.HandOver(base + "other/video.asf", base + "other/mjpeg.cgi", "admin", "secret");
    EXPECT_EQ(camera.RequestsArrived(), 1);
}
