// The sound devices' buffer behaviour and the audio player's loop, on the virtual device. With
// its manual clock, playback moves only when a test says so, so the player is stepped half by
// half and nothing depends on the machine's speed.

#include "codec/audio/audio_player.h"
#include "codec/audio/g726.h"
#include "codec/audio/library_use.h"
#include "codec/audio/sound_device.h"
#include "codec/audio/sound_virtual.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using audio::CSoundEvents;
using audio::CVirtualSoundDevice;
using audio::SoundNotify;
using audio::SoundResult;

// Generous: only a broken player takes this long.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 37 + (i >> 3));
    return v;
}

std::shared_ptr<CVirtualSoundDevice> ManualDevice(std::string wav = {})
{
    return std::make_shared<CVirtualSoundDevice>(audio::VirtualSoundOptions{true, std::move(wav)});
}

// ---- the sound device ------------------------------------------------------------------------

TEST(VirtualSoundBuffer, notifies_when_play_reaches_each_position_and_when_it_stops)
{
    CVirtualSoundDevice device({true, {}});
    auto buffer = device.CreateStreamBuffer(800, audio::WaveFormat{});
    ASSERT_NE(buffer, nullptr);
    CSoundEvents events;
    const SoundNotify notify[] = {
        {0, &events, 0}, {400, &events, 1}, {SoundNotify::kNotifyOnStop, &events, 2}};
    ASSERT_TRUE(buffer->SetNotifications(notify, 3));

    ASSERT_TRUE(device.Advance(400));
    EXPECT_EQ(events.Wait(0ms), -1) << "a stopped buffer does not move";
    ASSERT_TRUE(buffer->PlayLooping());
    EXPECT_EQ(events.Wait(0ms), -1) << "starting on position 0 does not reach it";
    device.Advance(398);
    EXPECT_EQ(events.Wait(0ms), -1);
    device.Advance(2);
    EXPECT_EQ(events.Wait(0ms), 1);
    EXPECT_EQ(buffer->GetCurrentPosition(), 400u);
    device.Advance(400);
    EXPECT_EQ(events.Wait(0ms), 0);
    EXPECT_EQ(buffer->GetCurrentPosition(), 0u);
    // A step over a whole loop reaches every position; the lowest signalled comes first.
    device.Advance(1000);
    EXPECT_EQ(events.Wait(0ms), 0);
    EXPECT_EQ(events.Wait(0ms), 1);
    EXPECT_EQ(events.Wait(0ms), -1);
    EXPECT_EQ(buffer->GetCurrentPosition(), 200u);

    ASSERT_TRUE(buffer->Stop());
    EXPECT_EQ(events.Wait(0ms), 2);
    EXPECT_FALSE(buffer->IsPlaying());
    EXPECT_EQ(device.BytesPlayed(), 1800u);

    const SoundNotify outside[] = {{800, &events, 0}};
    EXPECT_FALSE(buffer->SetNotifications(outside, 1));
}

TEST(VirtualSoundBuffer, locks_wrap_into_a_second_part_and_publish_on_unlock)
{
    CVirtualSoundDevice device({true, {}});
    auto buffer = device.CreateStreamBuffer(100, audio::WaveFormat{});
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(device.Contents(), std::vector<uint8_t>(100, 0));

    uint8_t *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(buffer->Lock(80, 40, &p1, &n1, &p2, &n2), SoundResult::Ok);
    EXPECT_EQ(n1, 20u);
    EXPECT_EQ(n2, 20u);
    std::memset(p1, 0xAA, n1);
    std::memset(p2, 0xBB, n2);
    EXPECT_EQ(device.Contents()[80], 0) << "nothing is published before Unlock";
    ASSERT_TRUE(buffer->Unlock(p1, n1, p2, n2));
    const std::vector<uint8_t> c = device.Contents();
    EXPECT_EQ(c[80], 0xAA);
    EXPECT_EQ(c[99], 0xAA);
    EXPECT_EQ(c[0], 0xBB);
    EXPECT_EQ(c[19], 0xBB);
    EXPECT_EQ(c[20], 0);
    EXPECT_EQ(device.Writes(), 1u);

    EXPECT_EQ(buffer->Lock(100, 4, &p1, &n1, &p2, &n2), SoundResult::Failed);
    EXPECT_EQ(buffer->Lock(0, 101, &p1, &n1, &p2, &n2), SoundResult::Failed);
    uint8_t outside[4];
    EXPECT_FALSE(buffer->Unlock(outside, 4, nullptr, 0));

    ASSERT_TRUE(device.LoseBuffer(false));
    EXPECT_EQ(buffer->Lock(0, 4, &p1, &n1, &p2, &n2), SoundResult::BufferLost);
    ASSERT_TRUE(buffer->Restore());
    EXPECT_EQ(buffer->Lock(0, 4, &p1, &n1, &p2, &n2), SoundResult::Ok);

}

TEST(VirtualSoundBuffer, writes_what_it_played_with_the_volume_to_a_wav_file)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vsd_" + std::to_string(::getpid()) + ".wav"))
            .string();
    {
        CVirtualSoundDevice device({true, path});
        auto buffer = device.CreateStreamBuffer(8, audio::WaveFormat{});
        ASSERT_NE(buffer, nullptr);
        uint8_t *p1, *p2;
        uint32_t n1, n2;
        ASSERT_EQ(buffer->Lock(0, 8, &p1, &n1, &p2, &n2), SoundResult::Ok);
        const int16_t samples[4] = {1000, -2000, 30000, -32768};
        std::memcpy(p1, samples, 8);
        buffer->Unlock(p1, n1, p2, n2);
        buffer->PlayLooping();
        device.Advance(8);
        buffer->SetVolume(-602); // half the amplitude, near enough
        device.Advance(8);
        buffer->Stop();
        device.Advance(8); // stopped: plays nothing
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    ASSERT_EQ(file.size(), 44u + 16u);
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | file[at + size_t(i)];
        return v;
    };
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le(4, 4), 36u + 16u);
    EXPECT_EQ(le(20, 2), 1u);     // PCM
    EXPECT_EQ(le(22, 2), 1u);     // mono
    EXPECT_EQ(le(24, 4), 8000u);  // samples per second
    EXPECT_EQ(le(28, 4), 16000u); // bytes per second
    EXPECT_EQ(le(34, 2), 16u);
    EXPECT_EQ(le(40, 4), 16u);
    const int16_t expected[8] = {1000, -2000, 30000, -32768, 500, -1000, 15000, -16384};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(int16_t(le(44 + 2 * size_t(i), 2)), expected[i], 2) << i;
}

TEST(VirtualSoundBuffer, real_time_clock_plays_sixteen_thousand_bytes_a_second)
{
    CVirtualSoundDevice device;
    auto buffer = device.CreateStreamBuffer(16000, audio::WaveFormat{});
    ASSERT_NE(buffer, nullptr);
    using Clock = std::chrono::steady_clock;
    const auto beforePlay = Clock::now();
    buffer->PlayLooping();
    const auto afterPlay = Clock::now();
    std::this_thread::sleep_for(150ms);
    const auto beforeRead = Clock::now();
    const uint64_t played = device.BytesPlayed();
    const auto afterRead = Clock::now();
    auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::microseconds>(d).count() / 1000.0;
    };
    // Bounded by the clock readings around play and read, whatever the machine's load.
    EXPECT_GE(double(played), 16 * ms(beforeRead - afterPlay) - 2);
    EXPECT_LE(double(played), 16 * ms(afterRead - beforePlay) + 2);
    buffer->Stop();
}

TEST(SoundDeviceChoice, default_takes_the_speaker_when_it_opens_else_the_virtual_device)
{
    ::unsetenv(audio::kSoundBackendEnv);
    const bool speaker = audio::OpenPortAudioDevice() != nullptr;
    auto chosen = audio::OpenSoundDevice({audio::SoundBackend::Default, {}});
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen->Name(), speaker ? "portaudio" : "virtual");
    EXPECT_EQ(audio::OpenSoundDevice({audio::SoundBackend::PortAudio, {}}) != nullptr, speaker);
    EXPECT_STREQ(audio::OpenSoundDevice({audio::SoundBackend::Virtual, {}})->Name(), "virtual");
}

TEST(SoundDeviceChoice, probing_the_speaker_leaves_the_console_quiet)
{
    // Whatever the machine has (no card, no sound server), the probe's messages are not ours
    // to print: a missing speaker is an answer, not an error.
    std::FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    std::fflush(stderr);
    const int console = ::dup(2);
    ::dup2(::fileno(capture), 2);
    audio::OpenPortAudioDevice().reset();
    std::fflush(stderr);
    ::dup2(console, 2);
    ::close(console);
    std::rewind(capture);
    std::string printed;
    for (int c; (c = std::fgetc(capture)) != EOF;)
        printed += char(c);
    std::fclose(capture);
    EXPECT_EQ(printed, "");
}

TEST(SoundDeviceChoice, environment_fills_in_what_the_options_leave_open)
{
    ::setenv(audio::kSoundBackendEnv, "virtual", 1);
    ::setenv(audio::kSoundWavEnv, "/tmp/x.wav", 1);
    const audio::SoundOptions fromEnv = audio::SoundOptionsFromEnvironment({});
    EXPECT_EQ(fromEnv.backend, audio::SoundBackend::Virtual);
    EXPECT_EQ(fromEnv.wavPath, "/tmp/x.wav");
    EXPECT_STREQ(audio::OpenSoundDevice({})->Name(), "virtual");
    const audio::SoundOptions given =
        audio::SoundOptionsFromEnvironment({audio::SoundBackend::PortAudio, "/tmp/y.wav"});
    EXPECT_EQ(given.backend, audio::SoundBackend::PortAudio);
    EXPECT_EQ(given.wavPath, "/tmp/y.wav");
    ::setenv(audio::kSoundBackendEnv, "loudspeaker", 1);
    EXPECT_EQ(audio::SoundOptionsFromEnvironment({}).backend, audio::SoundBackend::Default);
    ::unsetenv(audio::kSoundBackendEnv);
    ::unsetenv(audio::kSoundWavEnv);
    EXPECT_FALSE(audio::ParseSoundBackend("Virtual").has_value());
}

TEST(CountedLibrary, concurrent_users_initialise_once_and_the_last_one_terminates)
{
    std::atomic<int> inits{0}, terminates{0}, inside{0}, overlaps{0};
    std::atomic<bool> initWorks{false};
    // Slow enough that unserialised users would meet inside it.
    auto call = [&](std::atomic<int>& count) {
        overlaps += inside.fetch_add(1) != 0;
        std::this_thread::sleep_for(20ms);
        ++count;
        --inside;
    };
    audio::CCountedLibrary library({[&] {
                                        call(inits);
                                        return initWorks.load();
                                    },
                                    [&] { call(terminates); }});
    EXPECT_FALSE(library.Acquire()); // a failed start is no use and is tried again
    EXPECT_EQ(library.Users(), 0);
    initWorks = true;

    for (int round = 1; round <= 2; ++round) {
        std::latch allHold(6);
        std::vector<std::thread> users;
        for (int i = 0; i < 6; ++i)
            users.emplace_back([&] {
                audio::CLibraryUse use(library);
                EXPECT_TRUE(use.Ok());
                allHold.arrive_and_wait();
            });
        for (std::thread& t : users)
            t.join();
        EXPECT_EQ(inits, round + 1);
        EXPECT_EQ(terminates, round);
        EXPECT_EQ(library.Users(), 0);
    }
    EXPECT_EQ(overlaps, 0);
}

// ---- the audio player ------------------------------------------------------------------------

constexpr AudioPlayerTimings kFast{0ms, 0ms, 0ms, 5ms};

class AudioPlayerTest : public ::testing::Test
{
protected:
    AudioPlayerTest() : AudioPlayerTest(kFast) {}
    explicit AudioPlayerTest(AudioPlayerTimings timings, std::string wav = {})
        : device(ManualDevice(std::move(wav))),
          player(
              audio, clock, &panel, [d = device] { return d; }, timings)
    {
    }
    ~AudioPlayerTest() override { player.Close(); }

    void AddFrame(const std::vector<uint8_t>& codes, uint32_t timestamp)
    {
        uint8_t* data = AllocFrameData(codes.size());
        std::memcpy(data, codes.data(), codes.size());
        audio.Add(data, int32_t(codes.size()), timestamp);
    }

    // What a decoder running on from frame to frame makes of these frames.
    static std::vector<std::vector<uint8_t>> Decoded(int bits,
                                                     const std::vector<std::vector<uint8_t>>& in)
    {
        G726Decoder* d = G726_decoder_create();
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : in) {
            std::vector<short> pcm(4 * f.size());
            const int n = G726_dec(d, bits, f.data(), int(f.size()), pcm.data());
            std::vector<uint8_t> bytes(size_t(n) * 2);
            std::memcpy(bytes.data(), pcm.data(), bytes.size());
            out.push_back(bytes);
        }
        G726_decoder_destroy(d);
        return out;
    }

    std::vector<uint8_t> Half(int k)
    {
        const std::vector<uint8_t> c = device->Contents();
        const size_t h = player.HalfSize();
        return std::vector<uint8_t>(c.begin() + long(k * h), c.begin() + long((k + 1) * h));
    }

    // Plays one half and waits until the player has refilled the half play left.
    void PlayHalf()
    {
        const uint64_t writes = device->Writes();
        ASSERT_TRUE(device->Advance(player.HalfSize()));
        ASSERT_TRUE(WaitFor([&] { return device->Writes() > writes; }));
    }

    void StartPlaying(int bits, int frameSize)
    {
        ASSERT_TRUE(player.StartAudio(bits, frameSize));
        ASSERT_TRUE(player.Start());
        // Half 0 silent, half 1 the first block.
        ASSERT_TRUE(WaitFor([&] { return device->Playing() && device->Writes() == 2; }));
    }

    CFrameChain audio;
    CPanelClock clock;
    platform::MessageQueue panel;
    std::shared_ptr<CVirtualSoundDevice> device;
    CAudioPlayer player;
};

TEST_F(AudioPlayerTest, two_bit_frames_of_480_bytes_fill_each_3840_byte_half_exactly)
{
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(Pattern(480, uint8_t(i * 50)));
        AddFrame(frames.back(), 1000 + 240 * uint32_t(i));
    }
    const auto pcm = Decoded(2, frames);
    ASSERT_EQ(pcm[0].size(), 3840u);

    StartPlaying(2, 480);
    EXPECT_EQ(player.HalfSize(), 3840u);
    EXPECT_EQ(device->Contents().size(), 7680u);
    EXPECT_TRUE(panel.TakeMessage(WM_AUDIO_READY, 0ms).has_value());
    EXPECT_EQ(Half(0), std::vector<uint8_t>(3840, 0));
    EXPECT_EQ(Half(1), pcm[0]);
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 1000; }));

    PlayHalf(); // play entered half 1: half 0 takes the next frame
    EXPECT_EQ(Half(0), pcm[1]);
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 1240; }));
    PlayHalf(); // play wrapped to half 0: half 1 takes the next
    EXPECT_EQ(Half(1), pcm[2]);
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 1480; }));
    EXPECT_EQ(audio.GetCount(), 0);

    ASSERT_TRUE(player.Stop(8000));
    EXPECT_FALSE(device->Playing());
    player.Close();
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(device->Writes(), 0u) << "the buffer went with Close";
}

TEST_F(AudioPlayerTest, a_shorter_block_leaves_the_rest_of_its_half_as_it_was)
{
    // 4-bit codes: 960 bytes fill a 3840-byte half, 480 bytes only 1920 bytes of it.
    const std::vector<std::vector<uint8_t>> frames = {Pattern(960, 1), Pattern(960, 3),
                                                      Pattern(480, 2)};
    for (uint32_t i = 0; i < 3; ++i)
        AddFrame(frames[i], 10 * i);
    const auto pcm = Decoded(4, frames);
    ASSERT_EQ(pcm[2].size(), 1920u);

    StartPlaying(4, 480);
    EXPECT_EQ(Half(1), pcm[0]);
    PlayHalf();
    EXPECT_EQ(Half(0), pcm[1]);
    PlayHalf();
    std::vector<uint8_t> expected = pcm[2];
    expected.insert(expected.end(), pcm[0].begin() + 1920, pcm[0].end());
    EXPECT_EQ(Half(1), expected);
}

TEST_F(AudioPlayerTest, play_flag_zero_takes_frames_at_the_normal_rate_and_plays_silence)
{
    for (uint32_t i = 0; i < 6; ++i)
        AddFrame(Pattern(480, uint8_t(9 + i)), 500 + i);
    player.StopPlayAudio();
    EXPECT_EQ(player.PlayFlag(), 0);
    StartPlaying(2, 480);
    const std::vector<uint8_t> silence(3840, 0);
    EXPECT_EQ(Half(0), silence);
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 500; }));
    for (uint32_t k = 1; k <= 3; ++k) {
        PlayHalf();
        // One frame per half: the clock follows the frames one by one.
        EXPECT_TRUE(WaitFor([&] { return clock.Get() == 500 + k; })) << k;
        EXPECT_EQ(device->Contents(), std::vector<uint8_t>(7680, 0));
    }
    player.SetPlayAudio();
    PlayHalf();
    PlayHalf();
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 505; }));
    EXPECT_NE(device->Contents(), std::vector<uint8_t>(7680, 0));
}

TEST_F(AudioPlayerTest, without_frames_it_plays_silence_and_the_clock_keeps_its_value)
{
    clock.Set(777);
    StartPlaying(4, 60);
    for (int k = 0; k < 4; ++k)
        PlayHalf();
    EXPECT_EQ(device->Contents(), std::vector<uint8_t>(960, 0));
    EXPECT_EQ(clock.Get(), 777u);
    // A frame that comes late plays from the next boundary on.
    AddFrame(Pattern(60, 3), 900);
    PlayHalf();
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 900; }));
    EXPECT_NE(device->Contents(), std::vector<uint8_t>(960, 0));
}

TEST_F(AudioPlayerTest, frames_of_an_undecodable_code_size_play_as_silence_and_pace_the_clock)
{
    AddFrame(Pattern(240, 1), 40);
    AddFrame(Pattern(240, 2), 80);
    StartPlaying(7, 240);
    EXPECT_EQ(device->Contents(), std::vector<uint8_t>(3840, 0));
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 40; }));
    PlayHalf();
    EXPECT_TRUE(WaitFor([&] { return clock.Get() == 80; }));
    EXPECT_EQ(device->Contents(), std::vector<uint8_t>(3840, 0));
}

TEST_F(AudioPlayerTest, fill_restores_a_lost_buffer_once_and_drops_the_block_if_that_fails)
{
    ASSERT_TRUE(player.StartAudio(2, 10)); // halves of 80 bytes; the thread is not started
    const std::vector<uint8_t> a = Pattern(80, 1), b = Pattern(200, 2), c = Pattern(80, 3);

    ASSERT_TRUE(player.FillBuffer(1, b.data(), uint32_t(b.size()))); // longer than a half
    EXPECT_EQ(Half(1), std::vector<uint8_t>(b.begin(), b.begin() + 80));
    EXPECT_EQ(Half(0), std::vector<uint8_t>(80, 0));

    device->LoseBuffer(false);
    ASSERT_TRUE(player.FillBuffer(0, a.data(), 80));
    EXPECT_EQ(Half(0), a);

    device->LoseBuffer(true);
    EXPECT_FALSE(player.FillBuffer(0, c.data(), 80));
    EXPECT_EQ(Half(0), a);
    EXPECT_FALSE(player.FillBuffer(2, c.data(), 80));
}

TEST_F(AudioPlayerTest, a_failed_start_leaves_audio_off)
{
    EXPECT_FALSE(player.StartAudio(2, 0));
    EXPECT_FALSE(player.StartAudio(2, -480));
    EXPECT_FALSE(player.StartAudio(2, CAudioPlayer::kMaxFrameSize + 1));
    device->FailBufferCreation(true);
    EXPECT_FALSE(player.StartAudio(2, 480));
    EXPECT_FALSE(player.IsOpen());
    EXPECT_FALSE(player.SetVolume(0));
    EXPECT_EQ(panel.Size(), 0u) << "no WM_AUDIO_READY";

    CAudioPlayer noDevice(
        audio, clock, &panel, [] { return nullptr; }, kFast);
    EXPECT_FALSE(noDevice.StartAudio(2, 480));
    EXPECT_FALSE(noDevice.IsOpen());

    device->FailBufferCreation(false);
    EXPECT_TRUE(player.StartAudio(2, 480));
    EXPECT_TRUE(player.IsOpen());
    EXPECT_EQ(player.DeviceName(), "virtual");
}

TEST_F(AudioPlayerTest, volume_reaches_the_buffer_while_open)
{
    ASSERT_TRUE(player.StartAudio(4, 100));
    ASSERT_TRUE(panel.TakeMessage(WM_AUDIO_READY, 0ms).has_value());
    EXPECT_TRUE(player.SetVolume(-1500));
    EXPECT_EQ(device->Volume(), -1500);
    EXPECT_TRUE(player.SetVolume(0));
    EXPECT_EQ(device->Volume(), 0);
    EXPECT_FALSE(player.SetVolume(1));
    EXPECT_FALSE(player.SetVolume(-10001));
    EXPECT_EQ(device->Volume(), 0);
    player.Close();
    EXPECT_FALSE(player.SetVolume(0));
}

TEST_F(AudioPlayerTest, stop_ends_the_thread_while_play_does_not_move)
{
    StartPlaying(2, 480);
    // The manual clock never reaches the next boundary: the thread waits in vain until told.
    ASSERT_TRUE(player.Stop(8000));
    EXPECT_TRUE(player.Finished());
    EXPECT_FALSE(device->Playing());
    // The client may start it again on the same open buffer.
    ASSERT_TRUE(player.Start());
    EXPECT_TRUE(WaitFor([&] { return device->Playing(); }));
}

// Packets of 960 samples with frame size 240 at 4 bits, as the simulated camera sends them: each
// fills one half.
class AudioPlayerRealRate : public AudioPlayerTest
{
protected:
    AudioPlayerRealRate() : AudioPlayerTest(AudioPlayerTimings{}, WavPath()) {}
    static std::string WavPath()
    {
        return (std::filesystem::temp_directory_path() /
                ("player_" + std::to_string(::getpid()) + ".wav"))
            .string();
    }
};

// The camera sends each packet as it falls due, so the next one is queued only as play nears the
// half it is for. The first plays behind a half of silence and every later one right after it.
TEST_F(AudioPlayerRealRate, packets_queued_as_they_fall_due_play_back_to_back_from_the_first)
{
    const AudioPlayerTimings defaults;
    EXPECT_EQ(defaults.noFrameSleep, 2ms);
    EXPECT_EQ(defaults.afterBlockSleep, 1ms);
    EXPECT_EQ(defaults.failedWaitSleep, 1ms);

    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t i = 0; i < 6; ++i)
        frames.push_back(Pattern(480, uint8_t(7 * i)));
    const auto pcm = Decoded(4, frames);
    AddFrame(frames[0], 0);
    StartPlaying(4, 240);
    ASSERT_EQ(player.HalfSize(), 1920u);
    for (uint32_t k = 1; k < 6; ++k) {
        AddFrame(frames[k], 120 * k);
        PlayHalf();
    }
    ASSERT_TRUE(player.Stop(8000));
    player.Close();

    std::ifstream in(WavPath(), std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(WavPath());
    ASSERT_GT(file.size(), 44u);
    file.erase(file.begin(), file.begin() + 44);
    std::vector<uint8_t> expected(1920, 0);
    for (int k = 0; k < 4; ++k)
        expected.insert(expected.end(), pcm[size_t(k)].begin(), pcm[size_t(k)].end());
    EXPECT_EQ(file, expected);
}

} // namespace
