// Sound and pictures together: the simulator's audio plays on the virtual device and every
// picture is released within one half-buffer of the audio clock.

#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "codec/audio/sound_device.h"
#include "qt_env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

using namespace std::chrono_literals;

TEST(LipSync, MotionJpegPicturesFollowTheAudioClock)
{
    testsupport::TestApp();
    camsim::Config config;
    config.videoType = "jpeg";
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());

    const auto wav = std::filesystem::temp_directory_path() /
                     ("camctl-lipsync-" + std::to_string(::getpid()) + ".wav");
    ViewerHooks hooks;
    hooks.soundDevice = CAudioPlayer::DeviceFromOptions({audio::SoundBackend::Virtual, wav.string()});
    ViewerTimings timings;
    timings.stopPlaySleep = 0ms;
    timings.mjpeg.openSettle = 10ms;
    timings.mjpeg.afterStart = 0ms;
    timings.mjpeg.stopSleep = 0ms;
    {
        CViewerPanel panel(nullptr, timings, hooks);
        panel.SetSource(camera.BaseUrl() + "img/mjpeg.cgi", "jpeg", "", "");
        panel.StartPlay(0, "");
        ASSERT_TRUE(testsupport::PumpUntil([&] { return panel.Stats().painted >= 25; }, 30s));
        EXPECT_TRUE(panel.AudioPlayer().IsOpen());
        EXPECT_TRUE(panel.MJpegPainter().AvSync());
        // The simulator's packets fill one 1,920-byte half each: 120 ms of sound at 8 kHz.
        EXPECT_LE(panel.MJpegPainter().MaxSyncLag(), 120u);
        EXPECT_GT(panel.MJpegPainter().MaxSyncLag(), 0u);
        panel.StopPlay();
    }
    // The sound that played is the simulator's sweep, not silence.
    FILE* f = std::fopen(wav.string().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<int16_t> samples(8000);
    std::fseek(f, 44, SEEK_SET);
    const size_t n = std::fread(samples.data(), 2, samples.size(), f);
    std::fclose(f);
    ASSERT_GT(n, 4000u);
    double energy = 0;
    for (size_t i = 0; i < n; ++i)
        energy += double(samples[i]) * samples[i];
    EXPECT_GT(std::sqrt(energy / double(n)), 500.0);
    std::filesystem::remove(wav);
}

TEST(LipSync, AsfPicturesFollowTheAudioClock)
{
    testsupport::TestApp();
    camsim::Camera camera; // "type=mpeg4": the ASF stream
    ASSERT_TRUE(camera.Start());
    ViewerHooks hooks;
    hooks.soundDevice = CAudioPlayer::DeviceFromOptions({audio::SoundBackend::Virtual, ""});
    ViewerTimings timings;
    timings.stopPlaySleep = 0ms;
    timings.asf.openSettle = 10ms;
    timings.asf.afterStart = 0ms;
    timings.asf.stopSleep = 0ms;
    CViewerPanel panel(nullptr, timings, hooks);
    panel.SetSource(camera.BaseUrl() + "img/video.asf", "mpeg", "", "");
    panel.StartPlay(0, "");
    ASSERT_TRUE(testsupport::PumpUntil([&] { return panel.Stats().painted >= 25; }, 30s));
    EXPECT_TRUE(panel.AudioPlayer().IsOpen());
    EXPECT_TRUE(panel.Mpeg4Painter().AvSync());
    EXPECT_LE(panel.Mpeg4Painter().MaxSyncLag(), 120u);
    EXPECT_GT(panel.Mpeg4Painter().MaxSyncLag(), 0u);
    panel.StopPlay();
}
