// The hostile camera: the client's own parsers are the receivers, to show that the damage gets
// past the container into the decoders' bytes and ends connections in many ways, and that a seed
// replays a connection byte for byte.

#include "camsim/asf_stream.h"
#include "camsim/camera.h"
#include "camsim/mjpeg_stream.h"
#include "platform/http.h"
#include "stream/asf_parser.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_parser.h"
#include "stream/stream_worker.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace camsim;

namespace {

StreamFault Fuzz(uint64_t seed)
{
    return {StreamDefect::Fuzz, 0, seed};
}

MJpegStreamOptions SmallMJpeg()
{
    MJpegStreamOptions o;
    o.width = 160;
    o.height = 120;
    return o;
}

AsfStreamOptions SmallAsf()
{
    AsfStreamOptions o;
    o.width = 160;
    o.height = 120;
    o.gop = 10;
    return o;
}

// What a receiver made of a connection: the pictures it queued and how it ended ("" when the
// bytes ran out first).
struct Received
{
    std::vector<std::string> pictures;
    std::string end;
};

void Take(CFrameChain& chain, std::vector<std::string>* out)
{
    uint8_t* data;
    int32_t size;
    uint32_t ts;
    while (FrameChainNode* node = chain.Remove(&data, &size, &ts)) {
        if (out)
            out->emplace_back(reinterpret_cast<const char*>(data), size_t(size));
        FreeFrame(node);
    }
}

template <class Parse> Received Receive(Parse parse, CFrameChain& video, CFrameChain& audio)
{
    Received r;
    try {
        parse([&] {
            Take(video, &r.pictures);
            Take(audio, nullptr);
        });
    } catch (const CPlayerException& e) {
        r.end = std::to_string(e.Code()) + " " + e.Message();
    } catch (const std::bad_alloc&) {
        r.end = "100";
    }
    Take(video, &r.pictures);
    return r;
}

Received ReceiveMJpeg(const std::string& bytes)
{
    struct : IMJpegParserEvents
    {
        void StartPainter(int, int) override {}
        bool StartAudio(int, int) override { return true; }
    } events;
    CFrameChain video, audio;
    CMJpegParser parser(video, audio, events);
    parser.Reset();
    return Receive(
        [&](auto drain) {
            for (size_t at = 0; at < bytes.size(); at += 2048) {
                // Exact-size blocks, so an over-read shows.
                const std::vector<uint8_t> block(bytes.begin() + long(at),
                                                 bytes.begin() +
                                                     long(std::min(bytes.size(), at + 2048)));
                parser.ParseBlock(block.data(), block.size());
                drain();
            }
        },
        video, audio);
}

Received ReceiveAsf(const std::string& bytes)
{
    struct : IAsfParserEvents
    {
        void PrepareVideo(int, int, const uint8_t*, size_t) override {}
        bool StartAudio(int, int) override { return true; }
        int VideoCap() const override { return 18; }
    } events;
    CFrameChain video, audio;
    CAsfParser parser(kViewerAsfProfile, video, &audio, events);
    parser.Reset();
    auto exact = [&](size_t at, size_t n) {
        return std::vector<uint8_t>(bytes.begin() + long(at), bytes.begin() + long(at + n));
    };
    Received r = Receive(
        [&](auto drain) {
            if (bytes.size() < kAsfPreambleSize)
                return;
            const size_t header = parser.CheckPreamble(exact(0, kAsfPreambleSize).data());
            size_t at = kAsfPreambleSize + header + kAsfDataHeaderSize;
            if (bytes.size() < at)
                return;
            parser.ParseHeader(exact(kAsfPreambleSize, header).data(), header);
            const size_t packet = parser.PacketSize();
            ASSERT_GT(packet, 0u);
            for (; at + packet <= bytes.size(); at += packet) {
                parser.ParsePacket(exact(at, packet).data());
                drain();
            }
        },
        video, audio);
    parser.FreeObjects();
    return r;
}

} // namespace

TEST(StreamFuzz, ASeedReplaysItsConnectionAndSeedsDamageDifferently)
{
    std::set<std::string> mjpeg, asf;
    for (uint64_t seed = 1; seed <= 8; ++seed) {
        const std::string m = RecordMJpegStream(SmallMJpeg(), 30, Fuzz(seed));
        const std::string a = RecordAsfStream(SmallAsf(), 30, Fuzz(seed));
        EXPECT_EQ(m, RecordMJpegStream(SmallMJpeg(), 30, Fuzz(seed))) << seed;
        EXPECT_EQ(a, RecordAsfStream(SmallAsf(), 30, Fuzz(seed))) << seed;
        mjpeg.insert(m);
        asf.insert(a);
    }
    // A calm connection may go undamaged this long, but not many.
    EXPECT_GE(mjpeg.size(), 6u);
    EXPECT_GE(asf.size(), 6u);
}

TEST(StreamFuzz, DamageReachesTheDecodersAndEndsConnectionsInManyWays)
{
    struct Format
    {
        const char* name;
        std::function<std::string(int, StreamFault)> record;
        std::function<Received(const std::string&)> receive;
    };
    const Format formats[] = {
        {"mjpeg", [](int n, StreamFault f) { return RecordMJpegStream(SmallMJpeg(), n, f); },
         ReceiveMJpeg},
        {"asf", [](int n, StreamFault f) { return RecordAsfStream(SmallAsf(), n, f); }, ReceiveAsf},
    };
    for (const Format& format : formats) {
        const Received clean = format.receive(format.record(40, {}));
        ASSERT_EQ(clean.end, "") << format.name;
        const std::set<std::string> good(clean.pictures.begin(), clean.pictures.end());
        size_t damaged = 0;
        std::set<std::string> ends;
        for (uint64_t seed = 1; seed <= 16; ++seed) {
            const Received r = format.receive(format.record(40, Fuzz(seed)));
            for (const std::string& picture : r.pictures)
                damaged += good.count(picture) == 0;
            ends.insert(r.end);
        }
        // Pictures the container let through with damage inside, for the decoders.
        EXPECT_GE(damaged, 10u) << format.name;
        // Refusals of different checks, and streams that simply stopped.
        EXPECT_GE(ends.size(), 4u) << format.name;
        EXPECT_TRUE(ends.count("")) << format.name;
    }
}

TEST(StreamFuzz, EachConnectionGetsTheNextSeedAndStopsWhereItsRecordingDoes)
{
    Camera camera;
    Fault fault;
    std::string endpoint;
    ASSERT_TRUE(ParseFaultOption("img/mjpeg.cgi:stream=fuzz:7000", endpoint, fault));
    camera.SetFault("img/mjpeg.cgi", fault);
    ASSERT_TRUE(camera.Start());
    for (uint64_t k = 0; k < 2; ++k) {
        MJpegStreamOptions options; // what the endpoint sends without a query
        const std::string recorded = RecordMJpegStream(options, 20, Fuzz(7000 + k));
        const bool cut = recorded == RecordMJpegStream(options, 21, Fuzz(7000 + k));

        platform::HttpRequest request;
        request.url = camera.BaseUrl() + "img/mjpeg.cgi";
        request.idleTimeout = std::chrono::seconds(10);
        platform::HttpStream stream(request);
        ASSERT_TRUE(stream.Open());
        std::string got;
        char block[4096];
        while (got.size() < recorded.size())
            if (size_t n = stream.Read(block, sizeof block))
                got.append(block, n);
            else
                break;
        if (cut) {
            EXPECT_EQ(got, recorded) << k;
            EXPECT_EQ(stream.Read(block, sizeof block), 0u);
        } else {
            ASSERT_GE(got.size(), recorded.size()) << k;
            EXPECT_EQ(got.substr(0, recorded.size()), recorded) << k;
        }
    }
}
