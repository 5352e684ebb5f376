#include "stream/mjpeg_player.h"

#include "codec/image_holder.h"

#include "camsim/camera.h"
#include "mjpeg_packets.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"
#include "tests/support/raw_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

// Test doubles for the painter and the audio player: they consume their queues and record.
class FakePainter : public IMJpegPainter
{
public:
    explicit FakePainter(CFrameChain& queue) : m_queue(queue) {}
    ~FakePainter() override { Shutdown(); }
    void Prepare(int w, int h) override
    {
        std::lock_guard lock(m_mutex);
        prepared.emplace_back(w, h);
    }
    int Run() override
    {
        while (!m_stop) {
            uint8_t* data;
            int32_t size;
            uint32_t ts;
            if (FrameChainNode* node = m_queue.Remove(&data, &size, &ts)) {
                std::lock_guard lock(m_mutex);
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
        std::lock_guard lock(m_mutex);
        return frames.size();
    }

    std::mutex m_mutex;
    std::vector<std::pair<int, int>> prepared;
    std::vector<std::vector<uint8_t>> frames;

private:
    CFrameChain& m_queue;
};

class FakeAudio : public IAudioPlayer
{
public:
    ~FakeAudio() override { Shutdown(); }
    bool StartAudio(int codeSize, int frameSize) override
    {
        starts.emplace_back(codeSize, frameSize);
        m_open = startResult;
        return startResult;
    }
    bool IsOpen() const override { return m_open; }
    void Close() override
    {
        m_open = false;
        ++closes;
    }
    int Run() override
    {
        while (!m_stop)
            platform::SleepMs(1);
        return 0;
    }
    void OnError(int) override {}

    bool startResult = true;
    std::vector<std::pair<int, int>> starts;
    std::atomic<bool> m_open{false};
    int closes = 0;
};

std::vector<uint8_t> Pictures(int count, uint32_t firstNumber = 0)
{
    std::vector<uint8_t> stream;
    for (uint32_t n = firstNumber; n < firstNumber + uint32_t(count); ++n) {
        auto packets = Picture(n, 3000 + 100 * n, 1400, 33 * n);
        for (size_t i = 0; i < packets.size(); ++i) {
            Append(stream, packets[i]);
            if (i == 0)
                Append(stream, Audio(33 * n, 160, 0x11, 4));
        }
    }
    return stream;
}

enum class Tail { End, Stall, Endless };

class PlayerTest : public ::testing::Test
{
protected:
    // The camera's threads read the fixture: stop them before the fixture goes.
    void TearDown() override { camera.reset(); }

    void StartCamera(camsim::Config config = {})
    {
        camera = std::make_unique<camsim::Camera>(std::move(config));
        camsim::Camera* cam = camera.get();
        camera->AddEndpoint("GET", "test/stream", [this, cam](const httplib::Request&, httplib::Response& res) {
            std::shared_ptr<std::vector<uint8_t>> bytes;
            Tail tail;
            {
                std::lock_guard lock(streamMutex);
                bytes = std::make_shared<std::vector<uint8_t>>(streamBytes);
                tail = streamTail;
            }
            res.set_chunked_content_provider(
                "application/octet-stream",
                [bytes, tail, cam, next = uint32_t(100)](size_t, httplib::DataSink& sink) mutable {
                    if (!bytes->empty()) {
                        if (!sink.write(reinterpret_cast<const char*>(bytes->data()), bytes->size()))
                            return false;
                        bytes->clear();
                        return true;
                    }
                    if (tail == Tail::End) {
                        sink.done();
                        return true;
                    }
                    if (tail == Tail::Stall) {
                        while (!cam->WaitStopping(20)) {
                        }
                        return false;
                    }
                    if (cam->WaitStopping(10))
                        return false;
                    auto more = Pictures(1, next++);
                    return sink.write(reinterpret_cast<const char*>(more.data()), more.size());
                });
        });
        ASSERT_TRUE(camera->Start());
    }

    void SetStream(std::vector<uint8_t> bytes, Tail tail)
    {
        std::lock_guard lock(streamMutex);
        streamBytes = std::move(bytes);
        streamTail = tail;
    }

    // Runs the player to its end; returns the code it posted (0 when none).
    int RunToEnd(CMJpegPlayer& player)
    {
        EXPECT_TRUE(player.Start());
        for (int i = 0; i < 2000 && !player.Finished(); ++i)
            platform::SleepMs(10);
        EXPECT_TRUE(player.Finished());
        auto msg = messages.TakeMessage(WM_PLAYER_RESULT, 2s);
        return msg ? int(msg->wParam) : 0;
    }

    std::unique_ptr<CMJpegPlayer> MakePlayer(const std::string& endpoint,
                                             MJpegPlayerTimings timings = Fast())
    {
        auto player = std::make_unique<CMJpegPlayer>(video, audio, painter, &audioPlayer, &messages,
                                                     timings);
        player->SetUrl(camera ? camera->BaseUrl() + endpoint : endpoint, user, password);
        return player;
    }

    static MJpegPlayerTimings Fast()
    {
        MJpegPlayerTimings t;
        t.openSettle = 10ms;
        t.openWait = 10s;
        t.afterStart = 0ms;
        t.readWait = 20s;
        t.workerStop = 5s;
        t.stopSleep = 0ms;
        return t;
    }

    CFrameChain video, audio;
    FakePainter painter{video};
    FakeAudio audioPlayer;
    platform::MessageQueue messages;
    std::unique_ptr<camsim::Camera> camera;
    // Read by the camera's threads, which TSan cannot see synchronised with us through sockets.
    std::mutex streamMutex;
    std::vector<uint8_t> streamBytes = Pictures(5);
    Tail streamTail = Tail::End;
    std::string user, password;
};

} // namespace

TEST_F(PlayerTest, PicturesReachThePainterAndAudioStartsOnce)
{
    StartCamera();
    SetStream(Pictures(5), Tail::Endless);
    auto player = MakePlayer("test/stream");
    ASSERT_TRUE(player->Start());
    while (painter.FrameCount() < 5)
        platform::SleepMs(5);
    EXPECT_TRUE(audioPlayer.IsOpen());
    EXPECT_TRUE(painter.AvSync());
    EXPECT_TRUE(player->Stop(20000));

    ASSERT_EQ(painter.prepared.size(), 1u);
    EXPECT_EQ(painter.prepared[0], std::make_pair(320, 240));
    ASSERT_GE(painter.frames.size(), 5u);
    for (uint32_t n = 0; n < 5; ++n) {
        std::vector<uint8_t> expected;
        for (const auto& p : Picture(n, 3000 + 100 * n, 1400, 0))
            expected.insert(expected.end(), p.payload.begin(), p.payload.end());
        EXPECT_EQ(painter.frames[n], expected);
    }
    ASSERT_EQ(audioPlayer.starts.size(), 1u);
    EXPECT_EQ(audioPlayer.starts[0], std::make_pair(4, 160));
    // The stop procedure has run: sync off, audio closed, queues empty, workers stopped.
    EXPECT_FALSE(painter.AvSync());
    EXPECT_EQ(audioPlayer.closes, 1);
    EXPECT_EQ(video.GetCount(), 0);
    EXPECT_EQ(audio.GetCount(), 0);
    EXPECT_TRUE(painter.Finished());
    EXPECT_TRUE(audioPlayer.Finished());
}

TEST_F(PlayerTest, RefusalPagesGiveTheirCodes)
{
    camsim::Config config;
    config.user = "operator-with-a-name-longer-than-thirty-one";
    config.password = "pw";
    StartCamera(config);

    auto anonymous = MakePlayer("test/stream");
    EXPECT_EQ(RunToEnd(*anonymous), kResultCredentials);
    EXPECT_EQ(anonymous->LastMessage(), "User name or password error.");

    password = "wrong";
    user = config.user;
    EXPECT_EQ(RunToEnd(*MakePlayer("test/stream")), kResultCredentials);

    // The long user name is used whole.
    password = "pw";
    EXPECT_EQ(RunToEnd(*MakePlayer("test/stream")), kResultRead);
    EXPECT_EQ(painter.prepared.size(), 1u);

    camsim::Fault busy;
    busy.status = 503;
    camera->SetFault("test/stream", busy);
    auto refused = MakePlayer("test/stream");
    EXPECT_EQ(RunToEnd(*refused), kResultBusy);
    EXPECT_EQ(refused->LastMessage().rfind("Unable to connect to Camera", 0), 0u);
}

TEST_F(PlayerTest, ARefusalPageIsKnownHoweverItsBytesArrive)
{
    enum class After
    {
        Hold,
        Close
    };
    const std::string busy = camsim::kPage503, denied = camsim::kPage401;
    const struct
    {
        std::string first, rest;
        After after;
        std::chrono::milliseconds readWait;
        int code;
    } cases[] = {
        {busy.substr(0, 10), busy.substr(10), After::Hold, 20s, kResultBusy},
        {denied.substr(0, 10), denied.substr(10), After::Close, 20s, kResultCredentials},
        {denied.substr(0, 10), "", After::Hold, 300ms, kResultRead},
    };
    for (const auto& c : cases) {
        MJpegPlayerTimings t = Fast();
        t.readWait = c.readWait;
        RawServer server([&](RawServer::Connection& conn) {
            conn.ReadRequest();
            conn.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + c.first);
            platform::SleepMs(200);
            conn.Send(c.rest);
            if (c.after == After::Hold)
                conn.Hold();
        });
        auto player = MakePlayer(server.Url("img/mjpeg.cgi"), t);
        EXPECT_EQ(RunToEnd(*player), c.code) << c.first << c.rest;
    }
}

TEST_F(PlayerTest, OpenFailuresGiveConnectError)
{
    for (const char* url : {"ftp://127.0.0.1/img/mjpeg.cgi", "img/mjpeg.cgi", "", "http://"}) {
        auto player = MakePlayer(url);
        EXPECT_EQ(RunToEnd(*player), kResultConnect) << url;
        EXPECT_EQ(player->LastMessage(), "Connect error");
    }

    StartCamera();
    camsim::Fault hang;
    hang.hang = true;
    camera->SetFault("test/stream", hang);
    MJpegPlayerTimings shortOpen = Fast();
    shortOpen.openWait = 200ms;
    auto player = MakePlayer("test/stream", shortOpen);
    EXPECT_EQ(RunToEnd(*player), kResultConnect);
    EXPECT_TRUE(painter.prepared.empty());
}

TEST_F(PlayerTest, AStalledOrBrokenStreamEndsWithItsCode)
{
    StartCamera();
    // The stream's end is a failed read: the control reconnects on 400.
    auto ended = MakePlayer("test/stream");
    EXPECT_EQ(RunToEnd(*ended), kResultRead);
    EXPECT_EQ(ended->LastMessage(), "Data Reading Error");

    SetStream(Pictures(5), Tail::Stall);
    MJpegPlayerTimings shortRead = Fast();
    shortRead.readWait = 300ms;
    EXPECT_EQ(RunToEnd(*MakePlayer("test/stream", shortRead)), kResultRead);

    std::vector<uint8_t> broken = Pictures(2);
    Packet bad = Picture(9, 100, 100, 0)[0];
    bad.tag = "MJPX";
    Append(broken, bad);
    SetStream(broken, Tail::End);
    auto player = MakePlayer("test/stream");
    EXPECT_EQ(RunToEnd(*player), kResultMalformed);
    EXPECT_EQ(player->LastMessage(), "Header tag error.");

    camsim::Fault cut;
    cut.closeAfterBytes = 5000;
    camera->SetFault("test/stream", cut);
    EXPECT_EQ(RunToEnd(*MakePlayer("test/stream")), kResultRead);
}

TEST_F(PlayerTest, StopEndsARunningStreamQuietlyAndTheClientStartsAgain)
{
    StartCamera();
    SetStream(Pictures(5), Tail::Endless);
    auto player = MakePlayer("test/stream");
    for (int round = 0; round < 2; ++round) {
        size_t before = painter.FrameCount();
        ASSERT_TRUE(player->Start());
        EXPECT_FALSE(player->Start()); // already running
        while (painter.FrameCount() < before + 8)
            platform::SleepMs(5);
        EXPECT_TRUE(player->Stop(20000));
        EXPECT_FALSE(messages.TakeMessage(WM_PLAYER_RESULT, 100ms));
        EXPECT_TRUE(player->LastMessage().empty());
        EXPECT_EQ(video.GetCount(), 0);
    }
    EXPECT_EQ(painter.prepared.size(), 2u); // once per connection
    EXPECT_EQ(audioPlayer.starts.size(), 2u);
}

TEST_F(PlayerTest, StopDuringAHangingOpenIsPrompt)
{
    StartCamera();
    camsim::Fault hang;
    hang.hang = true;
    camera->SetFault("test/stream", hang);
    auto player = MakePlayer("test/stream");
    ASSERT_TRUE(player->Start());
    platform::SleepMs(50);
    // Far below the open's own 10 s wait.
    EXPECT_TRUE(player->Stop(5000));
    EXPECT_FALSE(messages.TakeMessage(WM_PLAYER_RESULT, 100ms));
}

TEST_F(PlayerTest, AStopIsPromptWhileTheReaderWaitsForTheCamera)
{
    StartCamera();
    SetStream(Pictures(2), Tail::Stall);
    auto player = MakePlayer("test/stream"); // its reads wait 20 s
    ASSERT_TRUE(player->Start());
    for (int i = 0; i < 3000 && painter.FrameCount() < 2; ++i)
        platform::SleepMs(10);
    ASSERT_GE(painter.FrameCount(), 2u);
    platform::SleepMs(100); // the reader is now blocked in its read
    EXPECT_TRUE(player->Stop(5000));
    EXPECT_FALSE(messages.TakeMessage(WM_PLAYER_RESULT, 50ms));
}

TEST(PlayerDefaults, WaitsAreTheStreamProtocolOnes)
{
    MJpegPlayerTimings t;
    EXPECT_EQ(t.openSettle.count() + t.openWait.count(), 30300);
    EXPECT_EQ(t.readWait.count(), 60000);
    EXPECT_EQ(t.workerStop.count(), 8000);
    EXPECT_EQ(t.stopSleep.count(), 1000);
    EXPECT_EQ(t.afterStart.count(), 300);
}

TEST_F(PlayerTest, TheCameraStreamGivesPicturesThatDecodeAndAudioAtItsCodeSize)
{
    StartCamera();
    auto player = MakePlayer("img/mjpeg.cgi?size=640x480");
    ASSERT_TRUE(player->Start());
    while (painter.FrameCount() < 3)
        platform::SleepMs(5);
    EXPECT_TRUE(player->Stop(20000));
    ASSERT_EQ(painter.prepared.size(), 1u);
    EXPECT_EQ(painter.prepared[0], std::make_pair(640, 480));
    for (const auto& frame : painter.frames) {
        CImageHolder holder;
        ASSERT_TRUE(holder.Decode(frame.data(), uint32_t(frame.size()), FormatJpeg))
            << holder.GetLastError();
        EXPECT_EQ(holder.GetWidth(), 640u);
        EXPECT_EQ(holder.GetHeight(), 480u);
        EXPECT_EQ(holder.GetBpp(), 24u);
    }
    ASSERT_EQ(audioPlayer.starts.size(), 1u);
    EXPECT_EQ(audioPlayer.starts[0].first, 4);
    EXPECT_GT(audioPlayer.starts[0].second, 0);
}

TEST_F(PlayerTest, EachStreamDefectOfTheCameraEndsTheRunWithItsCode)
{
    StartCamera();
    const std::pair<const char*, int> cases[] = {
        {"bad-tag", kResultMalformed},    {"bad-type", kResultMalformed},
        {"bad-version", kResultMalformed}, {"bad-offset", kResultMalformed},
        {"big-frame", kResultMalformed},   {"close", kResultRead},
        {"stall", kResultRead},
    };
    MJpegPlayerTimings t = Fast();
    t.readWait = 500ms;
    for (const auto& [defect, code] : cases) {
        camsim::Fault fault;
        fault.stream = defect;
        fault.afterPictures = 1;
        camera->SetFault("img/mjpeg.cgi", fault);
        auto player = MakePlayer("img/mjpeg.cgi", t);
        EXPECT_EQ(RunToEnd(*player), code) << defect << ": " << player->LastMessage();
    }
}
