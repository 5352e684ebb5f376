#include "stream/asf_player.h"

#include "camsim/asf_stream.h"
#include "camsim/camera.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Test doubles for the MPEG-4 painter and the audio player.
class FakePainter : public IMpeg4Painter
{
public:
    explicit FakePainter(CFrameChain& queue) : m_queue(queue) {}
    ~FakePainter() override { Shutdown(); }
    void Prepare(int w, int h, const uint8_t* config, size_t length) override
    {
        std::lock_guard lock(mutex);
        prepared.push_back({w, h});
        this->config.assign(config, config + length);
        open = true;
    }
    bool DecoderOpen() const override { return open; }
    void CloseDecoder() override
    {
        open = false;
        ++closes;
    }
    int Run() override
    {
        while (!m_stop) {
            uint8_t* data;
            int32_t size;
            uint32_t ts;
            if (FrameChainNode* node = m_queue.Remove(&data, &size, &ts)) {
                std::lock_guard lock(mutex);
                frames.emplace_back(data, data + size);
                FreeFrame(node);
            } else {
                platform::SleepMs(1);
            }
        }
        return 0;
    }
    void OnError(int) override {}
    size_t FrameCount()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }

    std::mutex mutex;
    std::vector<std::pair<int, int>> prepared;
    std::vector<uint8_t> config;
    std::vector<std::vector<uint8_t>> frames;
    std::atomic<bool> open{false};
    int closes = 0;

private:
    CFrameChain& m_queue;
};

class FakeAudio : public IAudioPlayer
{
public:
    explicit FakeAudio(CFrameChain& queue) : m_queue(queue) {}
    ~FakeAudio() override { Shutdown(); }
    bool StartAudio(int codeSize, int frameSize) override
    {
        starts.emplace_back(codeSize, frameSize);
        m_open = true;
        return true;
    }
    bool IsOpen() const override { return m_open; }
    void Close() override { m_open = false; }
    int Run() override
    {
        while (!m_stop) {
            uint8_t* data;
            int32_t size;
            uint32_t ts;
            if (FrameChainNode* node = m_queue.Remove(&data, &size, &ts)) {
                ++frames;
                FreeFrame(node);
            }
            platform::SleepMs(1);
        }
        return 0;
    }
    void OnError(int) override {}
    std::vector<std::pair<int, int>> starts;
    std::atomic<bool> m_open{false};
    std::atomic<int> frames{0};

private:
    CFrameChain& m_queue;
};

class AsfPlayerTest : public ::testing::Test
{
protected:
    void TearDown() override { camera.reset(); }
    void StartCamera(camsim::Config config = {})
    {
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
    }
    static AsfPlayerTimings Fast()
    {
        AsfPlayerTimings t;
        t.openSettle = 10ms;
        t.afterStart = 0ms;
        t.stopSleep = 0ms;
        t.workerStop = 5s;
        t.readWait = 20s;
        return t;
    }
    std::unique_ptr<CAsfPlayer> Make(const AsfProfile& profile = kViewerAsfProfile,
                                     AsfPlayerTimings t = Fast())
    {
        const bool audioOn = profile.audio;
        auto p = std::make_unique<CAsfPlayer>(profile, video, audioOn ? &audio : nullptr, painter,
                                              audioOn ? &audioPlayer : nullptr, &messages, &cap, t);
        p->SetUrl(camera->BaseUrl() + "img/video.asf", user, password);
        return p;
    }
    int RunToEnd(CAsfPlayer& player)
    {
        EXPECT_TRUE(player.Start());
        for (int i = 0; i < 3000 && !player.Finished(); ++i)
            platform::SleepMs(10);
        EXPECT_TRUE(player.Finished());
        auto msg = messages.TakeMessage(WM_PLAYER_RESULT, 2s);
        return msg ? int(msg->wParam) : 0;
    }
    void PlayUntilFrames(CAsfPlayer& player, size_t n)
    {
        ASSERT_TRUE(player.Start());
        for (int i = 0; i < 3000 && painter.FrameCount() < n; ++i)
            platform::SleepMs(10);
        ASSERT_GE(painter.FrameCount(), n);
        EXPECT_TRUE(player.Stop(20000));
    }

    CFrameChain video, audio;
    FakePainter painter{video};
    FakeAudio audioPlayer{audio};
    platform::MessageQueue messages;
    std::atomic<int> cap{kInitialVideoCap};
    std::unique_ptr<camsim::Camera> camera;
    std::string user, password;
};

} // namespace

TEST_F(AsfPlayerTest, PicturesAudioAndTheRecordArriveAndTheClientStartsAgain)
{
    StartCamera();
    const auto file = std::filesystem::temp_directory_path() /
                      ("camctl-asf-" + std::to_string(::getpid()) + ".asf");
    auto player = Make();
    player->SetRecord(true, file.string());
    PlayUntilFrames(*player, 12);
    ASSERT_EQ(painter.prepared.size(), 1u);
    EXPECT_EQ(painter.prepared[0], std::make_pair(320, 240));
    EXPECT_FALSE(painter.config.empty());
    EXPECT_EQ(painter.config[3], 0xB0); // the configuration starts with the sequence header
    EXPECT_EQ(painter.closes, 1);       // the stop closed the decoder
    ASSERT_EQ(audioPlayer.starts.size(), 1u);
    EXPECT_EQ(audioPlayer.starts[0].first, 4);
    EXPECT_GT(audioPlayer.frames.load(), 0);
    EXPECT_FALSE(messages.TakeMessage(WM_PLAYER_RESULT, 50ms));

    // The record is the stream itself: the bytes the simulator sends, from the start.
    std::ifstream in(file, std::ios::binary);
    std::stringstream recorded;
    recorded << in.rdbuf();
    const std::string bytes = recorded.str();
    // A fresh client of the camera's shared encoder: joinable from any picture.
    camsim::AsfStreamOptions options;
    options.joinable = true;
    const std::string expected =
        camsim::RecordAsfStream(options, int(painter.FrameCount()) + 30);
    ASSERT_GT(bytes.size(), 5000u);
    ASSERT_LE(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected.substr(0, bytes.size()));

    // An outside reader agrees that it is ASF with MPEG-4 video and G.726 audio.
    if (std::system("command -v ffprobe >/dev/null 2>&1") == 0) {
        const std::string cmd = "ffprobe -v error -show_streams -of flat " + file.string();
        FILE* pipe = ::popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buf[512];
        while (std::fgets(buf, sizeof buf, pipe))
            out += buf;
        ::pclose(pipe);
        EXPECT_NE(out.find("codec_name=\"mpeg4\""), std::string::npos) << out;
        EXPECT_NE(out.find("codec_name=\"adpcm_g726\""), std::string::npos) << out;
        EXPECT_NE(out.find("width=320"), std::string::npos);
        EXPECT_NE(out.find("sample_rate=\"8000\""), std::string::npos);
    } else {
        ADD_FAILURE() << "ffprobe is part of the project's packages";
    }
    std::filesystem::remove(file);

    const size_t before = painter.FrameCount();
    player->SetRecord(false, {});
    PlayUntilFrames(*player, before + 5);
    EXPECT_EQ(painter.prepared.size(), 2u);
    EXPECT_EQ(audioPlayer.starts.size(), 2u);
}

TEST_F(AsfPlayerTest, RecordingGoesToANewFileOrOverAnEarlierRecordingAndNothingElse)
{
    namespace fs = std::filesystem;
    StartCamera();
    const fs::path dir = fs::temp_directory_path() / ("camctl-rec-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto write = [](const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    };
    auto read = [](const fs::path& path) {
        std::stringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    };
    write(dir / "notes.txt", "keep me");
    fs::create_symlink(dir / "notes.txt", dir / "link.asf");
    ASSERT_EQ(::mkfifo((dir / "pipe.asf").c_str(), 0600), 0);
    for (const char* name : {"notes.txt", "link.asf", "pipe.asf", "."}) {
        auto player = Make();
        player->SetRecord(true, (dir / name).string());
        EXPECT_EQ(RunToEnd(*player), kResultFile) << name;
    }
    EXPECT_EQ(read(dir / "notes.txt"), "keep me");

    write(dir / "earlier.asf",
          camsim::RecordAsfStream({}, 1).substr(0, 16) + std::string(1 << 20, 'x'));
    // The refused runs' connections have let the camera's encoder go: this one starts it afresh.
    for (int i = 0; i < 500 && camera->RunningEncoders() != 0; ++i)
        std::this_thread::sleep_for(10ms);
    auto player = Make();
    player->SetRecord(true, (dir / "earlier.asf").string());
    PlayUntilFrames(*player, 3);
    const std::string recorded = read(dir / "earlier.asf");
    camsim::AsfStreamOptions options;
    options.joinable = true;
    const std::string stream = camsim::RecordAsfStream(options, int(painter.FrameCount()) + 30);
    ASSERT_GT(recorded.size(), 1000u);
    EXPECT_TRUE(recorded == stream.substr(0, recorded.size()));
    fs::remove_all(dir);
}

TEST_F(AsfPlayerTest, AStopIsPromptWhileTheReaderWaitsForTheCamera)
{
    StartCamera();
    camsim::Fault stall;
    stall.stream = "stall";
    stall.afterPictures = 2;
    camera->SetFault("img/video.asf", stall);
    auto player = Make(); // its reads wait 20 s
    ASSERT_TRUE(player->Start());
    for (int i = 0; i < 3000 && painter.FrameCount() < 2; ++i)
        platform::SleepMs(10);
    ASSERT_GE(painter.FrameCount(), 2u);
    platform::SleepMs(100); // the reader is now blocked in its read
    EXPECT_TRUE(player->Stop(5000));
    EXPECT_FALSE(messages.TakeMessage(WM_PLAYER_RESULT, 50ms));
}

TEST_F(AsfPlayerTest, AUrlThatIsNotHttpIsTriedAndFailsToConnect)
{
    StartCamera();
    for (const char* url : {"ftp://127.0.0.1:1/img/video.asf", "file:///etc/passwd", "", "http://",
                            "gopher://127.0.0.1:1/"}) {
        auto player = Make();
        player->SetUrl(url, "", "");
        EXPECT_EQ(RunToEnd(*player), kResultConnect) << url;
        EXPECT_EQ(player->LastMessage(), "Connect error");
    }
    EXPECT_TRUE(painter.prepared.empty());
}

TEST_F(AsfPlayerTest, TheZoneProfileTakesTheLevelBytesAndNoAudio)
{
    StartCamera();
    camera->SetZoneLevels({7, 0, 200, 3});
    auto player = Make(kZoneAsfProfile);
    PlayUntilFrames(*player, 5);
    EXPECT_EQ(player->ZoneLevels(), (std::array<uint8_t, 4>{7, 0, 200, 3}));
    EXPECT_TRUE(audioPlayer.starts.empty());
}

TEST_F(AsfPlayerTest, RefusalsAndStreamDefectsEndTheRunWithTheirCodes)
{
    camsim::Config config;
    config.user = "admin";
    config.password = "pw";
    StartCamera(config);
    auto refused = Make();
    EXPECT_EQ(RunToEnd(*refused), kResultCredentials);
    EXPECT_EQ(refused->LastMessage(), "User name or password error");

    camsim::Config full;
    full.maxUsers = 0;
    StartCamera(full);
    EXPECT_EQ(RunToEnd(*Make()), kResultBusy);

    StartCamera();
    AsfPlayerTimings t = Fast();
    t.readWait = 500ms;
    const std::pair<const char*, int> cases[] = {
        {"audio-key", kResultStreamNumber}, {"outside-object", kResultMalformed},
        {"fill-overflow", kResultMalformed}, {"short-packet", kResultRead},
        {"big-header", kResultMalformed},   {"big-packet", kResultMalformed},
        {"stall", kResultRead},             {"close", kResultRead},
    };
    for (const auto& [defect, code] : cases) {
        camsim::Fault fault;
        fault.stream = defect;
        fault.afterPictures = 1;
        camera->SetFault("img/video.asf", fault);
        auto player = Make(kViewerAsfProfile, t);
        EXPECT_EQ(RunToEnd(*player), code) << defect << ": " << player->LastMessage();
        if (std::string(defect) == "audio-key") {
            EXPECT_EQ(player->LastMessage(), "Bad StreamNo: 130");
        }
    }
}
