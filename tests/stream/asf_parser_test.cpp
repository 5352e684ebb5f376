#include "stream/asf_parser.h"

#include "asf_packets.h"
#include "stream/frame_chain.h"
#include "stream/stream_worker.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Events : IAsfParserEvents
{
    struct Prepared
    {
        int width, height;
        std::vector<uint8_t> config;
    };
    std::vector<Prepared> prepared;
    std::vector<std::pair<int, int>> audioStarts;
    bool audioResult = true;
    int cap = 18;
    void PrepareVideo(int w, int h, const uint8_t* config, size_t length) override
    {
        prepared.push_back({w, h, std::vector<uint8_t>(config, config + length)});
    }
    bool StartAudio(int codeSize, int frameSize) override
    {
        audioStarts.emplace_back(codeSize, frameSize);
        return audioResult;
    }
    int VideoCap() const override { return cap; }
};

struct Frame
{
    std::vector<uint8_t> data;
    uint32_t time;
};

std::vector<Frame> TakeAll(CFrameChain& chain)
{
    std::vector<Frame> out;
    uint8_t* data;
    int32_t size;
    uint32_t ts;
    while (FrameChainNode* node = chain.Remove(&data, &size, &ts)) {
        out.push_back({std::vector<uint8_t>(data, data + size), ts});
        FreeFrame(node);
    }
    return out;
}

constexpr uint32_t kPacket = 600;

class AsfTest : public ::testing::Test
{
protected:
    void Open(const AsfProfile& profile = kViewerAsfProfile)
    {
        parser = std::make_unique<CAsfParser>(profile, video, profile.audio ? &audio : nullptr,
                                              events);
        Reconnect();
    }
    void Reconnect()
    {
        parser->Reset();
        const auto header = Header({FileProperties(kPacket),
                                    VideoProperties(320, 240, {0, 0, 1, 0xB0, 9}),
                                    AudioProperties(4)});
        ASSERT_EQ(parser->CheckPreamble(header.data()), header.size() - 30);
        parser->ParseHeader(header.data() + 30, header.size() - 30);
    }
    // The message of the CPlayerException that parsing the packets throws.
    std::string FailureOf(const std::vector<std::vector<uint8_t>>& packets, int code = kResultMalformed)
    {
        try {
            for (const auto& p : packets)
                parser->ParsePacket(p.data());
        } catch (const CPlayerException& e) {
            EXPECT_EQ(e.Code(), code);
            return e.Message();
        }
        return "no failure";
    }
    void Feed(const std::vector<std::vector<uint8_t>>& packets)
    {
        for (const auto& p : packets)
            parser->ParsePacket(p.data());
    }
    static AsfPayload Whole(uint8_t stream, uint32_t size, uint32_t time, uint8_t seed = 1)
    {
        return AsfPayload{stream, 0, 8, size, time, Bytes(size, seed)};
    }

    CFrameChain video, audio;
    Events events;
    std::unique_ptr<CAsfParser> parser;
};

} // namespace

TEST_F(AsfTest, HeaderGivesPacketSizePictureAndCodeSize)
{
    Open();
    EXPECT_EQ(parser->PacketSize(), kPacket);
    EXPECT_EQ(parser->AudioCodeSize(), 4);
    ASSERT_EQ(events.prepared.size(), 1u);
    EXPECT_EQ(events.prepared[0].width, 320);
    EXPECT_EQ(events.prepared[0].height, 240);
    EXPECT_EQ(events.prepared[0].config, (std::vector<uint8_t>{0, 0, 1, 0xB0, 9}));
}

TEST_F(AsfTest, TheCreationDateLessThePrerollIsTheWallTimeOfTimeStampZero)
{
    constexpr uint64_t k1970In1601Ms = 11644473600000;
    constexpr int64_t kAt = 1765250000000; // a day in 2025, ms since 1970
    struct Row
    {
        uint64_t creation, preroll;
        int64_t start;
    };
    for (const Row& row : std::initializer_list<Row>{
             {(kAt + k1970In1601Ms) * 10000 + 9999, 3000, kAt - 3000},
             {(kAt + k1970In1601Ms) * 10000, 0, kAt},
             {0, 0, 0},                            // not set
             {k1970In1601Ms * 10000 - 1, 0, 0},    // before 1970
             {(kAt + k1970In1601Ms) * 10000, ~0ull, 0}, // no live stream's preroll
         }) {
        auto properties = FileProperties(kPacket);
        for (int i = 0; i < 8; ++i) {
            properties[size_t(48 + i)] = uint8_t(row.creation >> (8 * i));
            properties[size_t(80 + i)] = uint8_t(row.preroll >> (8 * i));
        }
        Events e;
        CAsfParser p(kViewerAsfProfile, video, &audio, e);
        const auto header = Header({properties});
        p.CheckPreamble(header.data());
        p.ParseHeader(header.data() + 30, header.size() - 30);
        EXPECT_EQ(p.StreamStartUnixMs(), row.start) << row.creation;
        p.Reset();
        EXPECT_EQ(p.StreamStartUnixMs(), 0);
    }
}

TEST_F(AsfTest, HeadersThatDoNotFitOrLackFilePropertiesAreRefused)
{
    Events e;
    CAsfParser p(kViewerAsfProfile, video, &audio, e);
    auto refused = [&](const std::vector<uint8_t>& header, int code) {
        p.Reset();
        try {
            size_t rest = p.CheckPreamble(header.data());
            p.ParseHeader(header.data() + 30, std::min(rest, header.size() - 30));
        } catch (const CPlayerException& ex) {
            return ex.Code() == code;
        }
        return false;
    };
    EXPECT_TRUE(refused(Header({VideoProperties(320, 240, {})}), kResultMalformed));
    EXPECT_TRUE(refused(Header({FileProperties(4097)}), kResultMalformed));
    EXPECT_TRUE(refused(Header({FileProperties(600), VideoProperties(320, 240, Bytes(1000, 3))}),
                        kResultMalformed)); // 30 + 1,024 bytes do not hold it
    auto busy = Header({FileProperties(600)});
    std::memcpy(busy.data(), "<HTML><HEAD><TITLE>503 Busy", 27);
    EXPECT_TRUE(refused(busy, kResultBusy));
    auto page = Header({FileProperties(600)});
    page[0] ^= 1;
    EXPECT_TRUE(refused(page, kResultCredentials));
    // An object whose size runs past the header.
    auto cut = Header({FileProperties(600)});
    cut[30 + 16] = 0xF0;
    EXPECT_TRUE(refused(cut, kResultMalformed));
    // Picture sizes no camera sends; the largest taken is 1024x768.
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {0, 240}, {320, 0}, {0x7FFFFFFF, 240}, {320, 0xFFFFFF10}, {1025, 768}, {1024, 769}};
    for (const auto& [w, h] : sizes)
        EXPECT_TRUE(
            refused(Header({FileProperties(600), VideoProperties(w, h, {})}), kResultMalformed))
            << w << "x" << h;
    EXPECT_FALSE(
        refused(Header({FileProperties(600), VideoProperties(1024, 768, {})}), kResultMalformed));
}

TEST_F(AsfTest, ObjectsSplitOverPacketsAreQueuedOnceWithTheirTime)
{
    Open();
    const auto picture = Bytes(900, 5);
    AsfPayload first{0x81, 0, 8, 900, 1234, {picture.begin(), picture.begin() + 500}};
    AsfPayload second{0x81, 500, 0, 0, 0, {picture.begin() + 500, picture.end()}};
    Feed({Packet(kPacket, {first}), Packet(kPacket, {second})});
    auto frames = TakeAll(video);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, picture);
    EXPECT_EQ(frames[0].time, 1234u);
}

TEST_F(AsfTest, PayloadsOutsideTheirObjectFailBeforeAnyCopy)
{
    Open();
    AsfPayload start{0x01, 0, 8, 100, 0, Bytes(60, 1)};
    AsfPayload past{0x01, 60, 0, 0, 0, Bytes(50, 2)};
    EXPECT_EQ(FailureOf({Packet(kPacket, {start, past})}), "PayloadLength > MediaObjectSize");

    // A continuation with no picture begun (the size in force is the audio object's).
    Open();
    EXPECT_EQ(FailureOf({Packet(kPacket, {Whole(0x02, 100, 0), AsfPayload{0x01, 0, 0, 0, 0, Bytes(10, 1)}})}),
              "No new video buffer");

    // The current size may come from the other stream: the video object's own size still holds.
    Open();
    AsfPayload small{0x01, 0, 8, 100, 0, Bytes(50, 1)};
    AsfPayload bigAudio{0x02, 0, 8, 400, 0, Bytes(10, 2)};
    AsfPayload beyond{0x01, 300, 0, 0, 0, Bytes(50, 3)};
    EXPECT_EQ(FailureOf({Packet(kPacket, {small, bigAudio, beyond})}),
              "nVideoFrameSize > nVideoTotalFrameSize");

    Open();
    AsfPayload over{0x01, 0, 8, 100, 0, Bytes(80, 1)};
    AsfPayload again{0x01, 0, 0, 0, 0, Bytes(80, 1)};
    EXPECT_EQ(FailureOf({Packet(kPacket, {over, again})}), "nVideoFrameSize > nVideoTotalFrameSize");

    Open();
    EXPECT_EQ(FailureOf({std::vector<uint8_t>(kPacket, 0)}), "Packet without payload.");
    Open();
    EXPECT_EQ(FailureOf({Packet(kPacket, {Whole(0x82, 10, 0)})}, kResultStreamNumber),
              "Bad StreamNo: 130");
    Open();
    AsfPayload compressed = Whole(0x01, 10, 0);
    compressed.replicated = 1;
    EXPECT_EQ(FailureOf({Packet(kPacket, {compressed})}), "Compressed payload.");
    // A payload that says it is longer than the packet.
    Open();
    auto packet = Packet(kPacket, {Whole(0x01, 20, 0)});
    packet[14 + 15] = 0xFF;
    packet[14 + 16] = 0x7F;
    EXPECT_EQ(FailureOf({packet}), "Payload past the packet.");
}

TEST_F(AsfTest, ReplicatedDataOfOtherLengthsIsSteppedOver)
{
    Open();
    AsfPayload start{0x81, 0, 8, 40, 7, Bytes(20, 1)};
    AsfPayload odd{0x81, 20, 4, 0, 0, Bytes(20, 21)};
    Feed({Packet(kPacket, {start, odd})});
    auto frames = TakeAll(video);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), 40u);
}

TEST_F(AsfTest, AudioStartsOnceWithThePayloadLengthAndOffSkipsItsPayloads)
{
    Open();
    events.audioResult = false;
    Feed({Packet(kPacket, {Whole(0x02, 120, 1), Whole(0x81, 50, 2), Whole(0x02, 120, 3),
                           Whole(0x01, 60, 4)})});
    ASSERT_EQ(events.audioStarts.size(), 1u);
    EXPECT_EQ(events.audioStarts[0], std::make_pair(4, 120));
    EXPECT_EQ(audio.GetCount(), 0);
    EXPECT_EQ(TakeAll(video).size(), 2u);

    Open();
    events.audioResult = true;
    for (uint32_t t = 0; t < 6; ++t)
        Feed({Packet(kPacket, {Whole(0x02, 120, 100 + t, uint8_t(t))})});
    auto sounds = TakeAll(audio);
    ASSERT_EQ(sounds.size(), 3u); // the oldest go first
    EXPECT_EQ(sounds[0].time, 103u);
    EXPECT_EQ(sounds[2].time, 105u);
}

TEST_F(AsfTest, TheVideoCapBoundsTheQueueAndAKeyFrameEndsTheWait)
{
    Open();
    for (uint32_t i = 0; i < 36; ++i)
        Feed({Packet(kPacket, {Whole(0x01, 30, i)})});
    ASSERT_EQ(video.GetCount(), 36);
    Feed({Packet(kPacket, {Whole(0x01, 30, 36)})}); // accepted at 36
    EXPECT_EQ(video.GetCount(), 37);
    Feed({Packet(kPacket, {Whole(0x81, 30, 37)})}); // refused at 37, even a key frame
    EXPECT_EQ(video.GetCount(), 37);
    EXPECT_TRUE(parser->KeyFrameWait());

    TakeAll(video); // the queue empties, the wait goes on
    Feed({Packet(kPacket, {Whole(0x01, 30, 38)}), Packet(kPacket, {Whole(0x01, 30, 39)})});
    EXPECT_EQ(video.GetCount(), 0);
    Feed({Packet(kPacket, {Whole(0x81, 30, 40)}), Packet(kPacket, {Whole(0x01, 30, 41)})});
    auto frames = TakeAll(video);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].time, 40u);
    EXPECT_FALSE(parser->KeyFrameWait());
}

TEST_F(AsfTest, ZoneProfileKeepsLevelBytesFromTheCompletingPacketOnly)
{
    Open(kZoneAsfProfile);
    EXPECT_TRUE(events.audioStarts.empty());
    EXPECT_EQ(parser->AudioCodeSize(), 0);
    // Not completing: the bytes after the payload are not levels.
    AsfPayload part{0x81, 0, 8, 100, 0, Bytes(60, 1)};
    Feed({Packet(kPacket, {part}, {9, 9, 9, 9})});
    EXPECT_EQ(parser->ZoneLevels(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    AsfPayload rest{0x01, 60, 0, 0, 0, Bytes(40, 61)};
    Feed({Packet(kPacket, {rest, Whole(0x02, 30, 0)}, {})});
    // Completing, followed by an audio payload: the levels are that payload's first bytes.
    auto levels = parser->ZoneLevels();
    EXPECT_EQ(levels[0], 0x02);
    EXPECT_EQ(TakeAll(video).size(), 1u);

    Feed({Packet(kPacket, {Whole(0x81, 50, 1)}, {10, 20, 30, 40})});
    EXPECT_EQ(parser->ZoneLevels(), (std::array<uint8_t, 4>{10, 20, 30, 40}));
    // Padding below 4 leaves them as they were.
    const uint32_t fullSize = kPacket - 14 - 17 - 2;
    Feed({Packet(kPacket, {Whole(0x81, fullSize, 2)})});
    EXPECT_EQ(parser->ZoneLevels(), (std::array<uint8_t, 4>{10, 20, 30, 40}));
    // No size checks, but the copy never leaves the object.
    EXPECT_EQ(FailureOf({Packet(kPacket, {AsfPayload{0x01, 0, 0, 0, 0, Bytes(10, 1)}})}),
              "nVideoFrameSize > nVideoTotalFrameSize");
    // A new connection keeps the levels until a picture brings new ones.
    Reconnect();
    Feed({Packet(kPacket, {part}, {9, 9, 9, 9})});
    EXPECT_EQ(parser->ZoneLevels(), (std::array<uint8_t, 4>{10, 20, 30, 40}));
}
