// Sound and pictures together: the simulator's audio plays on the virtual device, without a gap
// from its first sample on, and every picture is released within one half-buffer of the audio
// clock.

#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "codec/audio/sound_device.h"
#include "qt_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

std::vector<int16_t> PlayedSamples(const std::filesystem::path& wav)
{
    std::vector<int16_t> samples;
    FILE* f = std::fopen(wav.string().c_str(), "rb");
    if (!f)
        return samples;
    samples.resize(size_t(std::filesystem::file_size(wav) / 2));
    std::fseek(f, 44, SEEK_SET);
    samples.resize(std::fread(samples.data(), 2, samples.size(), f));
    std::fclose(f);
    return samples;
}

// The first three halves of sound: a start that plays one block and then a half it never wrote
// goes quiet in here.
constexpr size_t kStartSpan = 3 * 960;

// The longest stretch without sound (in samples) in `span` samples from where the sound starts;
// -1 when it never starts or stops before. The sweep passes zero within a sample.
long LongestDropout(const std::vector<int16_t>& samples, size_t span)
{
    size_t onset = 0;
    while (onset < samples.size() && std::abs(samples[onset]) < 1000)
        ++onset;
    if (samples.size() - onset < span)
        return -1;
    long longest = 0, run = 0;
    for (size_t i = onset; i < onset + span; ++i) {
        run = std::abs(samples[i]) < 200 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

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
    // The sound that played is the simulator's sweep, not silence, and without a gap.
    std::vector<int16_t> samples = PlayedSamples(wav);
    const size_t n = std::min<size_t>(samples.size(), 8000);
    ASSERT_GT(n, 4000u);
    double energy = 0;
    for (size_t i = 0; i < n; ++i)
        energy += double(samples[i]) * samples[i];
    EXPECT_GT(std::sqrt(energy / double(n)), 500.0);
    const long dropout = LongestDropout(samples, kStartSpan);
    EXPECT_GE(dropout, 0) << "the sound stopped too soon";
    EXPECT_LE(dropout, 40);
    std::filesystem::remove(wav);
}

TEST(LipSync, AsfPicturesFollowTheAudioClock)
{
    testsupport::TestApp();
    camsim::Camera camera; // "type=mpeg4": the ASF stream
    ASSERT_TRUE(camera.Start());
    const auto wav = std::filesystem::temp_directory_path() /
                     ("camctl-lipsync-asf-" + std::to_string(::getpid()) + ".wav");
    ViewerHooks hooks;
    hooks.soundDevice = CAudioPlayer::DeviceFromOptions({audio::SoundBackend::Virtual, wav.string()});
    ViewerTimings timings;
    timings.stopPlaySleep = 0ms;
    timings.asf.openSettle = 10ms;
    timings.asf.afterStart = 0ms;
    timings.asf.stopSleep = 0ms;
    {
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
    // From its first sample on, the sweep plays without a gap.
    const long dropout = LongestDropout(PlayedSamples(wav), kStartSpan);
    EXPECT_GE(dropout, 0) << "the sound stopped too soon";
    EXPECT_LE(dropout, 40);
    std::filesystem::remove(wav);
}
