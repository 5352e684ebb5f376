#include "camsim/asf_stream.h"
#include "camsim/camera.h"
#include "camsim/shared_stream.h"
#include "platform/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace camsim;

namespace {

using Clock = std::chrono::steady_clock;

platform::HttpRequest Request(const Camera& camera, const std::string& path)
{
    platform::HttpRequest request;
    request.url = camera.BaseUrl() + path;
    // A server that cannot take the connection fails the test rather than hanging it.
    request.idleTimeout = std::chrono::seconds(5);
    return request;
}

std::string ReadUpTo(platform::HttpStream& stream, size_t n)
{
    std::string body;
    char block[4096];
    while (body.size() < n)
        if (size_t got = stream.Read(block, std::min(sizeof block, n - body.size())))
            body.append(block, got);
        else
            break;
    return body;
}

template <class Done>
bool WaitFor(Done done)
{
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!done() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

size_t HeaderSize(const std::string& asf)
{
    uint64_t size = 0;
    std::memcpy(&size, asf.data() + 16, 8);
    return size_t(size) + kAsfDataObjectHeaderSize;
}

// The stream byte and offset of the first video payload in the data packets.
std::pair<uint8_t, uint32_t> FirstVideoPayload(const std::string& data, size_t packetSize)
{
    for (size_t p = 0; p + packetSize <= data.size(); p += packetSize) {
        const auto* b = reinterpret_cast<const uint8_t*>(data.data() + p);
        size_t at = kAsfPacketHeaderSize;
        for (int n = b[13] & 0x3F; n > 0 && at + 9 <= packetSize; --n) {
            const uint8_t stream = b[at];
            uint32_t offset = 0;
            std::memcpy(&offset, b + at + 2, 4);
            const size_t replicated = b[at + 6];
            uint16_t length = 0;
            std::memcpy(&length, b + at + 7 + replicated, 2);
            if ((stream & 0x7F) == kAsfVideoStream)
                return {stream, offset};
            at += 9 + replicated + length;
        }
    }
    return {0, 0};
}

// Numbered steps as fast as they are taken; every fourth one can be joined at.
class CountingStream final : public SharedStream
{
public:
    explicit CountingStream(Camera& camera) : SharedStream(camera) { SetHeader("H"); }
    ~CountingStream() override { Finish(); }

private:
    bool Produce(std::string& out, bool& entry) override
    {
        if (WaitClosing(1))
            return false;
        entry = m_next % 4 == 0;
        out = std::to_string(m_next++);
        return true;
    }
    int m_next = 1;
};

} // namespace

TEST(SharedStream, ClientsOfAConfigurationGetTheSameBytesFromOneEncoderAndJoinAtAKeyPicture)
{
    platform::SetConnectionsPerServer(0);
    Config config;
    config.asfSize = "160x120";
    config.gop = 600; // a joiner must not wait for the group's next key picture
    Camera camera(config);
    ASSERT_TRUE(camera.Start());

    platform::HttpStream first(Request(camera, "img/video.asf"));
    ASSERT_TRUE(first.Open());
    std::string a = ReadUpTo(first, 4096);
    platform::HttpStream second(Request(camera, "img/video.asf"));
    ASSERT_TRUE(second.Open());
    const std::string b = ReadUpTo(second, 16000);
    a += ReadUpTo(first, 40000);
    EXPECT_EQ(camera.EncodersStarted(), 1u);
    EXPECT_EQ(camera.RunningEncoders(), 1);

    const size_t header = HeaderSize(b);
    ASSERT_GT(b.size(), header + 1600);
    EXPECT_EQ(a.compare(0, header, b, 0, header), 0);
    const std::string joined = b.substr(header);
    EXPECT_NE(a.find(joined), std::string::npos) << "the second client's packets are the first's";
    const auto [streamByte, offset] = FirstVideoPayload(joined, 1600);
    EXPECT_EQ(streamByte, kAsfVideoStream | kAsfKeyFrameBit);
    EXPECT_EQ(offset, 0u);

    // Another size is another configuration; a client with a defect of its own keeps its own path.
    platform::HttpStream other(Request(camera, "img/video.asf?size=320x240"));
    ASSERT_TRUE(other.Open());
    EXPECT_FALSE(ReadUpTo(other, 2000).empty());
    Fault fault;
    fault.stream = "stall";
    camera.SetFault("img/video.asf", fault);
    platform::HttpStream faulty(Request(camera, "img/video.asf"));
    ASSERT_TRUE(faulty.Open());
    EXPECT_FALSE(ReadUpTo(faulty, 2000).empty());
    EXPECT_EQ(camera.EncodersStarted(), 2u);
    EXPECT_EQ(camera.RunningEncoders(), 2);
    camera.ClearFaults();
}

TEST(SharedStream, EncodersStopWithTheirLastClient)
{
    platform::SetConnectionsPerServer(0);
    Config config;
    config.mjpegSize = "160x120";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    {
        platform::HttpStream a(Request(camera, "img/mjpeg.cgi"));
        platform::HttpStream b(Request(camera, "img/mjpeg.cgi"));
        ASSERT_TRUE(a.Open());
        ASSERT_TRUE(b.Open());
        EXPECT_FALSE(ReadUpTo(a, 1000).empty());
        EXPECT_FALSE(ReadUpTo(b, 1000).empty());
        EXPECT_EQ(camera.RunningEncoders(), 1);
    }
    EXPECT_TRUE(WaitFor([&] { return camera.RunningEncoders() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return camera.ActiveStreams() == 0; }));
}

TEST(SharedStream, SixtyFourClientsStreamAtOnceWhileAQueryAnswersAndOneMoreIsBusy)
{
    platform::SetConnectionsPerServer(0);
    Config config;
    config.maxUsers = kMinStreamClients;
    config.mjpegSize = "160x120";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());

    std::vector<std::unique_ptr<platform::HttpStream>> clients;
    for (int i = 0; i < kMinStreamClients; ++i) {
        clients.push_back(std::make_unique<platform::HttpStream>(Request(camera, "img/mjpeg.cgi")));
        ASSERT_TRUE(clients.back()->Open()) << "client " << i;
        ASSERT_EQ(clients.back()->Status(), 200) << "client " << i;
    }
    for (auto& c : clients)
        EXPECT_EQ(ReadUpTo(*c, 2000).size(), 2000u);
    EXPECT_EQ(camera.RunningEncoders(), 1);

    platform::HttpStream query(Request(camera, "img/query.cgi"));
    ASSERT_TRUE(query.Open());
    EXPECT_EQ(query.Status(), 200);
    EXPECT_NE(ReadUpTo(query, 200).find("ptctrl="), std::string::npos);

    platform::HttpStream busy(Request(camera, "img/mjpeg.cgi"));
    ASSERT_TRUE(busy.Open());
    EXPECT_EQ(busy.Status(), 503);
    EXPECT_EQ(ReadUpTo(busy, 4096), kPage503);
}

TEST(SharedStream, AClientThatFallsBehindIsCutOffWithoutHoldingBackTheOthers)
{
    Camera camera;
    SharedStreams streams(camera);
    auto make = [&] { return std::make_unique<CountingStream>(camera); };
    auto reader = streams.Join("count", make);
    auto idle = streams.Join("count", make);
    auto late = streams.Join("count", make);
    EXPECT_EQ(streams.Running(), 1);

    SharedBytes step;
    ASSERT_TRUE(reader->Next(step));
    EXPECT_EQ(*step, "H");
    ASSERT_TRUE(reader->Next(step));
    const int joinedAt = std::stoi(*step);
    EXPECT_EQ(joinedAt % 4, 0) << "a client starts where it can";
    for (int expected = joinedAt + 1; expected < joinedAt + 3 * int(SharedStream::kMaxQueuedSteps);
         ++expected) {
        ASSERT_TRUE(reader->Next(step));
        ASSERT_EQ(std::stoi(*step), expected) << "nothing lost or reordered";
    }
    EXPECT_TRUE(idle->CutOff());
    EXPECT_FALSE(idle->Next(step));

    late.reset();
    idle.reset();
    reader.reset();
    EXPECT_EQ(streams.Running(), 0);
}
