#include "stream/mjpeg_parser.h"

#include "mjpeg_packets.h"
#include "stream/frame_chain.h"
#include "stream/stream_worker.h"

#include <gtest/gtest.h>

#include <random>

using namespace testsupport;

namespace {

struct Events : IMJpegParserEvents
{
    std::vector<std::pair<int, int>> painters;
    std::vector<std::pair<int, int>> audioStarts;
    bool audioResult = true;
    void StartPainter(int w, int h) override { painters.emplace_back(w, h); }
    bool StartAudio(int codeSize, int frameSize) override
    {
        audioStarts.emplace_back(codeSize, frameSize);
        return audioResult;
    }
};

struct Frame
{
    std::vector<uint8_t> data;
    uint32_t timestamp;
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

std::vector<uint8_t> Joined(const std::vector<Packet>& packets)
{
    std::vector<uint8_t> bytes;
    for (const auto& p : packets)
        bytes.insert(bytes.end(), p.payload.begin(), p.payload.end());
    return bytes;
}

class ParserTest : public ::testing::Test
{
protected:
    void SetUp() override { parser.Reset(); }

    // Feeds the stream in blocks of the given sizes, cycling through them.
    void Feed(const std::vector<uint8_t>& stream, std::vector<size_t> splits)
    {
        size_t at = 0;
        for (size_t i = 0; at < stream.size(); ++i) {
            size_t n = std::min(splits[i % splits.size()], stream.size() - at);
            parser.ParseBlock(stream.data() + at, n);
            at += n;
        }
    }
    // The message of the CMJpegPlayerException that feeding the stream, then its end, throws.
    std::string FailureOf(const std::vector<uint8_t>& stream, int expectedCode = kResultMalformed,
                          std::vector<size_t> splits = {2048})
    {
        try {
            Feed(stream, std::move(splits));
            parser.EndOfStream();
        } catch (const CMJpegPlayerException& e) {
            EXPECT_EQ(e.Code(), expectedCode);
            return e.Message();
        }
        return "no failure";
    }

    CFrameChain video, audio;
    Events events;
    CMJpegParser parser{video, audio, events};
};

} // namespace

TEST_F(ParserTest, AnySplitOfTheStreamGivesTheSamePicturesAndAudio)
{
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> pictures;
    for (uint32_t n = 0; n < 6; ++n) {
        auto packets = Picture(n, 1000 + 777 * n, 600, 40 * n);
        pictures.push_back(Joined(packets));
        for (size_t i = 0; i < packets.size(); ++i) {
            Append(stream, packets[i]);
            if (i == 0) // audio between the packets of one picture
                Append(stream, Audio(40 * n + 5, 100, uint8_t(n)));
        }
    }
    std::mt19937 rng(7);
    std::vector<size_t> randomSplits;
    for (int i = 0; i < 50; ++i)
        randomSplits.push_back(1 + rng() % 300);

    for (std::vector<size_t> splits : {std::vector<size_t>{2048}, {1}, {48}, {20, 28}, {47, 49, 3},
                                       randomSplits}) {
        parser.Reset();
        events = Events{};
        Feed(stream, splits);
        auto frames = TakeAll(video);
        ASSERT_EQ(frames.size(), pictures.size()) << splits[0];
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].data, pictures[i]);
            EXPECT_EQ(frames[i].timestamp, 40 * i);
        }
        auto sounds = TakeAll(audio);
        ASSERT_EQ(sounds.size(), 5u); // the audio queue holds five
        for (size_t i = 0; i < sounds.size(); ++i) {
            EXPECT_EQ(sounds[i].data, std::vector<uint8_t>(100, uint8_t(i)));
            EXPECT_EQ(sounds[i].timestamp, 40 * i + 5);
        }
        ASSERT_EQ(events.painters.size(), 1u);
        EXPECT_EQ(events.audioStarts.size(), 1u);
    }
}

TEST_F(ParserTest, AOnePacketPictureIsQueuedAsSoonAsItsPayloadIsIn)
{
    std::vector<uint8_t> stream;
    Append(stream, Picture(3, 500, 500, 77)[0]);
    parser.ParseBlock(stream.data(), stream.size() - 1);
    EXPECT_EQ(video.GetCount(), 0);
    parser.ParseBlock(stream.data() + stream.size() - 1, 1);
    auto frames = TakeAll(video);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), 500u);
    EXPECT_EQ(frames[0].timestamp, 77u);
}

TEST_F(ParserTest, AFullVideoQueueDropsTheNewPictureAndTheNextIsAssembledNormally)
{
    std::vector<uint8_t> stream;
    for (uint32_t n = 0; n < 12; ++n)
        for (const auto& p : Picture(n, 300, 128, n))
            Append(stream, p);
    // The first ten fill the queue; the eleventh is dropped.
    size_t eleventhEnd = 0;
    {
        std::vector<uint8_t> first;
        for (uint32_t n = 0; n < 11; ++n)
            for (const auto& p : Picture(n, 300, 128, n))
                Append(first, p);
        eleventhEnd = first.size();
    }
    Feed(std::vector<uint8_t>(stream.begin(), stream.begin() + long(eleventhEnd)), {333});
    EXPECT_EQ(video.GetCount(), 10);
    uint8_t* data;
    int32_t size;
    uint32_t ts;
    FreeFrame(video.Remove(&data, &size, &ts)); // room for one more
    Feed(std::vector<uint8_t>(stream.begin() + long(eleventhEnd), stream.end()), {333});
    auto frames = TakeAll(video);
    ASSERT_EQ(frames.size(), 10u);
    EXPECT_EQ(frames.back().timestamp, 11u);
    EXPECT_EQ(frames.back().data, Joined(Picture(11, 300, 128, 11)));
}

TEST_F(ParserTest, AudioBeforeVideoStartsAudioOnceAndAFailedStartLeavesItOff)
{
    std::vector<uint8_t> stream;
    Append(stream, Audio(1, 60, 9, 3));
    Append(stream, Audio(2, 60, 9, 5));
    EXPECT_TRUE(events.painters.empty());
    Feed(stream, {2048});
    ASSERT_EQ(events.audioStarts.size(), 1u);
    EXPECT_EQ(events.audioStarts[0], std::make_pair(3, 60));
    EXPECT_TRUE(events.painters.empty());
    EXPECT_EQ(audio.GetCount(), 2);

    std::vector<uint8_t> video1;
    Packet first = Picture(0, 10, 10, 5)[0];
    first.width = 704;
    first.height = 480;
    Append(video1, first);
    Packet second = Picture(1, 10, 10, 6)[0];
    second.width = 160;
    Append(video1, second);
    Feed(video1, {2048});
    ASSERT_EQ(events.painters.size(), 1u);
    EXPECT_EQ(events.painters[0], std::make_pair(704, 480));

    // A new connection whose audio cannot start: audio packets are dropped, not retried.
    parser.Reset();
    audio.Clear();
    events = Events{};
    events.audioResult = false;
    Feed(stream, {2048});
    EXPECT_EQ(events.audioStarts.size(), 1u);
    EXPECT_EQ(audio.GetCount(), 0);
}

TEST_F(ParserTest, BadHeadersFailInTheirOrderWithTheirMessages)
{
    auto one = [](Packet p) {
        std::vector<uint8_t> s;
        Append(s, p);
        return s;
    };
    Packet p = Picture(0, 100, 100, 0)[0];

    Packet typeAndTag = p;
    typeAndTag.type = 3;
    typeAndTag.tag = "JPEG";
    EXPECT_EQ(FailureOf(one(typeAndTag)), "Header type error.");
    parser.Reset();
    Packet tag = p;
    tag.tag = "MJPg";
    EXPECT_EQ(FailureOf(one(tag)), "Header tag error.");
    parser.Reset();
    Packet version = p;
    version.version = 0;
    EXPECT_EQ(FailureOf(one(version)), "Header version error.");
    // Picture sizes no camera sends, checked where the painter would take them.
    for (auto [w, h] :
         {std::pair<uint16_t, uint16_t>{0, 240}, {320, 0}, {1025, 768}, {1024, 769}}) {
        parser.Reset();
        Packet size = p;
        size.width = w;
        size.height = h;
        EXPECT_EQ(FailureOf(one(size)), "Header picture size error.") << w << "x" << h;
    }
    EXPECT_TRUE(events.painters.empty());
    parser.Reset();
    Packet begin = p;
    begin.frameOffset = 4;
    EXPECT_EQ(FailureOf(one(begin)), "Header frame begin offset location error.");

    parser.Reset();
    auto packets = Picture(0, 300, 100, 0);
    packets[1].frameOffset = 150;
    std::vector<uint8_t> s;
    for (const auto& q : packets)
        Append(s, q);
    EXPECT_EQ(FailureOf(s), "Header frame offset location error.");

    // A packet that would run past the picture's end is refused before anything is written.
    parser.Reset();
    packets = Picture(0, 300, 100, 0);
    packets[2].payload.resize(180);
    s.clear();
    for (const auto& q : packets)
        Append(s, q);
    EXPECT_EQ(FailureOf(s), "Header frame size error.");
    EXPECT_EQ(video.GetCount(), 0);
}

TEST_F(ParserTest, RefusalPagesAreSeenInTheFirstBytesHoweverSplitAndBusyWinsOverCredentials)
{
    const std::string busyText = "Unable to connect to Camera - too many users already connected "
                                 "or\ndevice is busy. Please try again later.";
    const std::string both = "<HTML><HEAD><TITLE>401 Unauthorized</TITLE></HEAD>"
                             "<HTML><HEAD><TITLE>503 Service Unavailable</TITLE>";
    const std::string denied = "<HTML><HEAD><TITLE>401 Unauthorized</TITLE></HEAD></HTML>\r\n";
    for (std::vector<size_t> splits : {std::vector<size_t>{2048}, {10}, {1}, {21, 5}}) {
        parser.Reset();
        EXPECT_EQ(FailureOf(std::vector<uint8_t>(both.begin(), both.end()), kResultBusy, splits),
                  busyText);
        parser.Reset();
        EXPECT_EQ(FailureOf(std::vector<uint8_t>(denied.begin(), denied.end()), kResultCredentials,
                            splits),
                  "User name or password error.");
    }
    // The busy page is known before the stream ends; a credentials page could still be followed
    // by the busy title.
    parser.Reset();
    EXPECT_THROW(parser.ParseBlock(reinterpret_cast<const uint8_t*>(both.data()), both.size()),
                 CMJpegPlayerException);
    parser.Reset();
    EXPECT_NO_THROW(
        parser.ParseBlock(reinterpret_cast<const uint8_t*>(denied.data()), denied.size()));

    // Beyond the first 255 bytes, or after the first packet, it is just bad data.
    parser.Reset();
    const std::string lateText = std::string(300, 'x') + denied;
    std::vector<uint8_t> late(lateText.begin(), lateText.end());
    EXPECT_EQ(FailureOf(late), "Header type error.");
    parser.Reset();
    std::vector<uint8_t> stream;
    Append(stream, Picture(0, 10, 10, 0)[0]);
    parser.ParseBlock(stream.data(), stream.size());
    stream.assign(denied.begin(), denied.end());
    EXPECT_EQ(FailureOf(stream), "Header type error.");
}

TEST_F(ParserTest, FrameSizesThatCannotBeHeldAreAMemoryFailureAndResetFreesPartialData)
{
    std::vector<uint8_t> huge;
    Packet p = Picture(0, 10, 10, 0)[0];
    p.frameSize = 0xFFFFFFF0u;
    p.payload.clear();
    Append(huge, p);
    EXPECT_THROW(parser.ParseBlock(huge.data(), huge.size()), std::bad_alloc);

    // Half a picture and half a packet are left behind; Reset (and ASan) see them freed.
    parser.Reset();
    std::vector<uint8_t> half;
    for (const auto& q : Picture(0, 5000, 1000, 0))
        Append(half, q);
    parser.ParseBlock(half.data(), half.size() / 2);
    parser.Reset();
    std::vector<uint8_t> fresh;
    for (const auto& q : Picture(1, 50, 50, 9))
        Append(fresh, q);
    parser.ParseBlock(fresh.data(), fresh.size());
    EXPECT_EQ(TakeAll(video).size(), 1u);
}
