#include "camsim/camera.h"
#include "camsim/mjpeg_stream.h"
#include "platform/http.h"

#include <gtest/gtest.h>

#include <spandsp.h>

#include <cstdio>
#include <jpeglib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <thread>

using namespace camsim;

namespace {

// Read back independently of the product's parser: fields at their wire offsets.
struct Packet
{
    std::string tag, text, payload;
    uint32_t frameSize = 0, offset = 0, timeMs = 0;
    unsigned width = 0, height = 0, length = 0, type = 0, codeSize = 0, version = 0, reserved = 0;
    size_t at = 0; // position of the header in the stream
};

uint32_t Le(const std::string& s, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | uint8_t(s[at + size_t(i)]);
    return v;
}

struct Picture
{
    uint32_t frameSize = 0, timeMs = 0;
    unsigned width = 0, height = 0;
    std::string jpeg;
    size_t packets = 0;
    bool audioInside = false; // an audio packet came between two of its packets
};

// Packets, pictures and a list of what is wrong, each as "what@picture" where picture counts the
// pictures begun so far from 0.
struct Parsed
{
    std::vector<Packet> packets;
    std::vector<Picture> pictures;
    std::vector<Packet> audio;
    std::vector<std::string> problems;
};

Parsed Parse(const std::string& s)
{
    Parsed r;
    Picture current;
    bool inPicture = false;
    int begun = 0;
    auto problem = [&](const char* what) {
        r.problems.push_back(std::string(what) + "@" + std::to_string(begun - (inPicture ? 1 : 0)));
    };
    size_t at = 0;
    while (at < s.size()) {
        if (s.size() - at < kMJpegHeaderSize) {
            problem("cut");
            break;
        }
        Packet p;
        p.at = at;
        p.tag = s.substr(at, 4);
        p.frameSize = Le(s, at + 4, 4);
        p.width = Le(s, at + 8, 2);
        p.height = Le(s, at + 10, 2);
        p.offset = Le(s, at + 12, 4);
        p.length = Le(s, at + 16, 2);
        p.timeMs = Le(s, at + 18, 4);
        p.type = Le(s, at + 22, 1);
        p.codeSize = Le(s, at + 23, 2);
        p.version = Le(s, at + 25, 1);
        p.text = s.substr(at + 26, 20);
        p.reserved = Le(s, at + 46, 2);
        at += kMJpegHeaderSize;
        if (s.size() - at < p.length) {
            problem("cut");
            break;
        }
        p.payload = s.substr(at, p.length);
        at += p.length;
        r.packets.push_back(p);

        if (p.tag != "MJPG")
            problem("tag");
        if (p.version != 1)
            problem("version");
        if (p.type != kMJpegVideo && p.type != kMJpegAudio)
            problem("type");
        if (p.type == kMJpegAudio) {
            r.audio.push_back(p);
            if (inPicture)
                current.audioInside = true;
            continue;
        }
        if (inPicture && p.offset == 0) {
            problem("incomplete");
            inPicture = false;
        }
        if (!inPicture) {
            if (p.offset != 0)
                problem("offset");
            current = Picture{p.frameSize, p.timeMs, p.width, p.height, {}, 0, false};
            current.jpeg.reserve(p.frameSize);
            inPicture = true;
            ++begun;
        } else if (p.offset != current.jpeg.size()) {
            problem("offset");
        }
        if (p.frameSize != current.frameSize || p.timeMs != current.timeMs ||
            p.width != current.width || p.height != current.height)
            problem("inconsistent");
        current.jpeg += p.payload;
        ++current.packets;
        if (current.jpeg.size() > p.frameSize)
            problem("overrun");
        if (current.jpeg.size() >= p.frameSize) {
            r.pictures.push_back(current);
            inPicture = false;
        }
    }
    return r;
}

std::string Join(const std::vector<std::string>& problems)
{
    std::string text;
    for (const auto& p : problems)
        text += p + " ";
    return text;
}

struct JpegError
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// RGB pixels, or empty when libjpeg refuses the data.
std::vector<uint8_t> DecodeJpeg(const std::string& data, unsigned& width, unsigned& height)
{
    jpeg_decompress_struct cinfo{};
    JpegError error{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1);
    };
    error.pub.output_message = [](j_common_ptr) {};
    std::vector<uint8_t> rgb;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    width = cinfo.output_width;
    height = cinfo.output_height;
    rgb.resize(size_t(width) * height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rgb.data() + size_t(cinfo.output_scanline) * width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return rgb;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// Signal-to-noise ratio in dB of the G.726 codes decoded with the given packing.
double AudioSnr(const std::string& codes, int codeSize, int packing)
{
    g726_state_t* decoder = g726_init(nullptr, codeSize * 8000, G726_ENCODING_LINEAR, packing);
    std::vector<int16_t> pcm(codes.size() * 8 / size_t(codeSize) + 8);
    const int n = g726_decode(decoder, pcm.data(), reinterpret_cast<const uint8_t*>(codes.data()),
                              int(codes.size()));
    g726_free(decoder);
    double signal = 0, noise = 0;
    for (int i = 0; i < n; ++i) {
        const double want = SyntheticSound(uint64_t(i));
        signal += want * want;
        noise += (pcm[size_t(i)] - want) * (pcm[size_t(i)] - want);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

platform::HttpRequest StreamRequest(const Camera& camera, const std::string& query = {})
{
    platform::HttpRequest request;
    request.url = camera.BaseUrl() + "img/mjpeg.cgi" + query;
    request.idleTimeout = std::chrono::seconds(20);
    return request;
}

// Reads until `n` bytes or the end of the body.
// The camera encodes a configuration once for all its clients; a connection that should see a
// stream from its start waits until the one before has let the encoder go.
void WaitForIdleEncoders(const Camera& camera)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (camera.RunningEncoders() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(camera.RunningEncoders(), 0);
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

} // namespace

TEST(MJpegStream, PicturesAreContiguousPacketsOfDecodableJpegAtEverySize)
{
    const std::pair<int, int> sizes[] = {
        {160, 120}, {160, 128}, {320, 240}, {640, 480}, {704, 480}};
    for (size_t maxPayload : {size_t(1400), size_t(333), size_t(65535)})
        for (auto [w, h] : sizes) {
            MJpegStreamOptions o;
            o.width = w;
            o.height = h;
            o.maxPayload = maxPayload;
            o.fps = 12;
            o.text = "a text of more than twenty bytes";
            const int count = 16;
            Parsed r = Parse(RecordMJpegStream(o, count));
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " max " +
                         std::to_string(maxPayload));
            EXPECT_TRUE(r.problems.empty()) << Join(r.problems);
            ASSERT_EQ(r.pictures.size(), size_t(count));
            for (const Packet& p : r.packets) {
                EXPECT_LE(p.length, maxPayload);
                EXPECT_EQ(p.text, o.text.substr(0, 20));
                EXPECT_EQ(p.reserved, 0u);
            }
            std::vector<std::vector<uint8_t>> decoded;
            for (size_t k = 0; k < r.pictures.size(); ++k) {
                const Picture& pic = r.pictures[k];
                EXPECT_EQ(pic.timeMs, uint32_t(k * 1000 / 12));
                EXPECT_EQ(pic.width, unsigned(w));
                EXPECT_EQ(pic.height, unsigned(h));
                unsigned dw = 0, dh = 0;
                decoded.push_back(DecodeJpeg(pic.jpeg, dw, dh));
                ASSERT_FALSE(decoded.back().empty()) << k;
                EXPECT_EQ(dw, unsigned(w));
                EXPECT_EQ(dh, unsigned(h));
            }
            // The scene moves from picture to picture.
            EXPECT_GT(MeanDifference(decoded[0], decoded[1]), 0.2);
            EXPECT_GT(MeanDifference(decoded[0], decoded[count / 2]), 2.0);
            if (maxPayload == 65535 && w <= 320) {
                EXPECT_EQ(r.packets.size() - r.audio.size(), size_t(count)); // one packet each
            }
        }
}

TEST(MJpegStream, AudioKeepsTheRealRateAtEveryCodeSizeAndPictureRate)
{
    for (int fps : {30, 25, 7, 1})
        for (int codeSize : {2, 3, 4, 5}) {
            SCOPED_TRACE(std::to_string(fps) + " fps, " + std::to_string(codeSize) + " bits");
            MJpegStreamOptions o;
            o.fps = fps;
            o.audioCodeSize = codeSize;
            const int pictures = fps * 3 + 1; // three seconds
            Parsed r = Parse(RecordMJpegStream(o, pictures));
            ASSERT_TRUE(r.problems.empty()) << Join(r.problems);
            const uint32_t lastPicture = r.pictures.back().timeMs;
            ASSERT_EQ(lastPicture, 3000u);

            // Every 120 ms of sound due by the last picture was sent, in order.
            ASSERT_EQ(r.audio.size(), size_t(lastPicture / 120 + 1));
            std::string codes;
            for (size_t j = 0; j < r.audio.size(); ++j) {
                const Packet& a = r.audio[j];
                EXPECT_EQ(a.timeMs, j * 120);
                EXPECT_EQ(a.codeSize, unsigned(codeSize));
                EXPECT_EQ(a.length, 960u * unsigned(codeSize) / 8);
                EXPECT_EQ(a.frameSize, 240u);
                codes += a.payload;
            }
            EXPECT_EQ(codes.size(), size_t(codeSize) * 8000 / 8 * r.audio.size() * 120 / 1000);

            // Each audio packet goes out near its own time on the video clock: after the
            // pictures before it, and no later than one picture interval plus a little.
            uint32_t lastVideo = 0;
            size_t audio = 0;
            for (const Packet& p : r.packets) {
                if (p.type == kMJpegVideo) {
                    lastVideo = p.timeMs;
                    continue;
                }
                EXPECT_LE(p.timeMs, lastVideo + 1000 / uint32_t(fps)) << audio;
                EXPECT_GE(p.timeMs + 20, lastVideo) << audio;
                ++audio;
            }
            if (fps == 30) {
                bool inside = false;
                for (const Picture& pic : r.pictures)
                    inside = inside || pic.audioInside;
                EXPECT_TRUE(inside);
            }

            // The codes decode to the synthetic sweep, and only with the packing that puts the
            // first code in the highest bits.
            const double minimum[] = {0, 0, 15, 20, 25, 28};
            EXPECT_GT(AudioSnr(codes, codeSize, G726_PACKING_LEFT), minimum[codeSize]);
            EXPECT_LT(AudioSnr(codes, codeSize, G726_PACKING_RIGHT), 3.0);
        }
}

TEST(MJpegStream, SmallPayloadLimitShortensAudioPacketsAndItsFrameSize)
{
    MJpegStreamOptions o;
    o.maxPayload = 101;
    o.audioCodeSize = 5;
    Parsed r = Parse(RecordMJpegStream(o, 10));
    ASSERT_TRUE(r.problems.empty()) << Join(r.problems);
    ASSERT_FALSE(r.audio.empty());
    for (size_t j = 0; j < r.audio.size(); ++j) {
        // 20 groups of 8 codes of 5 bits: 160 samples, 20 ms.
        EXPECT_EQ(r.audio[j].length, 100u);
        EXPECT_EQ(r.audio[j].frameSize, 40u);
        EXPECT_EQ(r.audio[j].timeMs, j * 20);
    }

    o.audioCodeSize = 0;
    EXPECT_TRUE(Parse(RecordMJpegStream(o, 10)).audio.empty());
    using Spoil = void (*)(MJpegStreamOptions&);
    for (Spoil bad :
         std::initializer_list<Spoil>{[](MJpegStreamOptions& b) { b.audioCodeSize = 1; },
                                      [](MJpegStreamOptions& b) { b.maxPayload = 7; },
                                      [](MJpegStreamOptions& b) { b.fps = 0; },
                                      [](MJpegStreamOptions& b) { b.width = 0; }}) {
        MJpegStreamOptions b;
        bad(b);
        EXPECT_THROW(MJpegStreamSource{b}, std::invalid_argument);
    }
}

TEST(MJpegStream, EachFaultGivesExactlyItsDefectAfterTheGoodPictures)
{
    const std::pair<const char*, const char*> cases[] = {
        {"close", "cut"},
        {"stall", "cut"},
        {"bad-tag", "tag"},
        {"bad-type", "type"},
        {"bad-version", "version"},
        {"bad-offset", "offset"},
        {"big-frame", "incomplete"},
    };
    for (size_t maxPayload : {size_t(1400), size_t(65535)})
        for (int after : {0, 2, 5})
            for (auto [name, problem] : cases) {
                SCOPED_TRACE(std::string(name) + " after " + std::to_string(after) + " max " +
                             std::to_string(maxPayload));
                StreamFault fault;
                ASSERT_TRUE(ParseStreamDefect(name, fault.defect));
                fault.afterPictures = after;
                MJpegStreamOptions o;
                o.maxPayload = maxPayload;
                const std::string clean = RecordMJpegStream(o, 9);
                const std::string faulty = RecordMJpegStream(o, 9, fault);
                Parsed r = Parse(faulty);
                ASSERT_EQ(r.problems.size(), 1u) << Join(r.problems);
                EXPECT_EQ(r.problems[0], std::string(problem) + "@" + std::to_string(after));
                // Everything before the faulty picture is as without the fault.
                ASSERT_GE(r.pictures.size(), size_t(after));
                Parsed good = Parse(clean);
                for (int k = 0; k < after; ++k)
                    EXPECT_EQ(r.pictures[size_t(k)].jpeg, good.pictures[size_t(k)].jpeg);
                if (problem == std::string("cut")) {
                    // Inside the faulty picture's first packet.
                    EXPECT_EQ(r.pictures.size(), size_t(after));
                    EXPECT_EQ(faulty, clean.substr(0, faulty.size()));
                } else {
                    EXPECT_EQ(faulty.size(), clean.size());
                    EXPECT_EQ(r.pictures.size(),
                              size_t(problem == std::string("incomplete") ? 8 : 9));
                }
            }
}

TEST(MJpegStream, FaultOptionsAndSizesFromTheCommandLine)
{
    std::string endpoint;
    Fault f;
    ASSERT_TRUE(ParseFaultOption("img/mjpeg.cgi:stream=bad-offset", endpoint, f));
    ASSERT_TRUE(ParseFaultOption("img/mjpeg.cgi:after=7", endpoint, f));
    EXPECT_EQ(endpoint, "img/mjpeg.cgi");
    EXPECT_EQ(f.stream, "bad-offset");
    EXPECT_EQ(f.afterPictures, 7);
    for (const char* bad :
         {"img/mjpeg.cgi:stream=explode", "img/mjpeg.cgi:stream", "x:after=-1", "x:after=two"})
        EXPECT_FALSE(ParseFaultOption(bad, endpoint, f)) << bad;

    int w = 0, h = 0;
    EXPECT_TRUE(ParseMJpegSize("704x480", w, h));
    EXPECT_EQ(w * 1000 + h, 704480);
    for (const char* bad : {"", "320x", "x240", "320x241", "320*240", "1x1", "320x240x"})
        EXPECT_FALSE(ParseMJpegSize(bad, w, h)) << bad;
}

TEST(MJpegStreamHttp, StreamArrivesAsRecordedAndSpeedAndSizeAreHonoured)
{
    Config config;
    config.mjpegSize = "160x128";
    config.audioCodeSize = 3;
    Camera camera(config);
    ASSERT_TRUE(camera.Start());

    MJpegStreamOptions o;
    o.width = 160;
    o.height = 128;
    o.audioCodeSize = 3;
    for (const char* query : {"", "?Speed=0", "?Speed=31", "?Speed=fast", "?size=17x3"}) {
        WaitForIdleEncoders(camera);
        const std::string want = RecordMJpegStream(o, 8);
        platform::HttpStream stream(StreamRequest(camera, query));
        ASSERT_TRUE(stream.Open());
        EXPECT_EQ(stream.Status(), 200);
        EXPECT_EQ(ReadUpTo(stream, want.size()), want) << query;
    }

    o.width = 704;
    o.height = 480;
    o.fps = 5;
    const std::string want = RecordMJpegStream(o, 3);
    platform::HttpStream slow(StreamRequest(camera, "?size=704x480&Speed=5"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(slow.Open());
    const std::string got = ReadUpTo(slow, want.size());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    Parsed r = Parse(got);
    ASSERT_EQ(r.pictures.size(), 3u);
    EXPECT_EQ(r.pictures[2].timeMs, 400u);
    EXPECT_EQ(r.pictures[2].width, 704u);
    EXPECT_EQ(got, want);
}

TEST(MJpegStreamHttp, RefusesWithTheBusyAndCredentialPages)
{
    Config config;
    config.maxUsers = 1;
    config.user = "admin";
    config.password = "s3cret";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());

    platform::HttpStream anonymous(StreamRequest(camera));
    ASSERT_TRUE(anonymous.Open());
    EXPECT_EQ(anonymous.Status(), 401);
    EXPECT_EQ(ReadUpTo(anonymous, 4096).rfind("<HTML><HEAD><TITLE>401", 0), 0u);

    platform::HttpRequest request = StreamRequest(camera);
    request.user = "admin";
    request.password = "s3cret";
    platform::HttpStream first(request);
    ASSERT_TRUE(first.Open());
    EXPECT_EQ(ReadUpTo(first, 4), "MJPG");
    EXPECT_EQ(camera.ActiveStreams(), 1);

    platform::HttpStream second(request);
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(second.Status(), 503);
    EXPECT_EQ(ReadUpTo(second, 4096), kPage503);
}

TEST(MJpegStreamHttp, CloseDropsTheConnectionAndStallWaitsForTheFaultToClear)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());
    MJpegStreamOptions o;
    StreamFault fault{StreamDefect::Close, 1};
    const std::string cut = RecordMJpegStream(o, 4, fault);

    Fault close;
    close.stream = "close";
    close.afterPictures = 1;
    camera.SetFault("img/mjpeg.cgi", close);
    platform::HttpStream dropped(StreamRequest(camera));
    ASSERT_TRUE(dropped.Open());
    EXPECT_EQ(ReadUpTo(dropped, cut.size() + 100000), cut);
    EXPECT_FALSE(dropped.Complete());

    Fault stall = close;
    stall.stream = "stall";
    camera.ClearFaults();
    camera.SetFault("*", stall);
    const std::string whole = RecordMJpegStream(o, 4);
    std::string body;
    std::atomic<size_t> received{0};
    std::thread reader([&] {
        platform::HttpStream stalled(StreamRequest(camera));
        char block[4096];
        size_t n = stalled.Open() ? 1 : 0;
        while (n != 0 && body.size() < whole.size()) {
            n = stalled.Read(block, std::min(sizeof block, whole.size() - body.size()));
            body.append(block, n);
            received += n;
        }
        received = std::string::npos;
    });
    while (received.load() < cut.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Nothing more comes while the fault stands, and the connection stays open.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(received.load(), cut.size());
    EXPECT_EQ(camera.ActiveStreams(), 1);
    camera.ClearFaults();
    reader.join();
    // Once released it goes on exactly where it stopped.
    EXPECT_EQ(body, whole);
}

TEST(MJpegStreamHttp, StopEndsARunningAndAStalledStream)
{
    for (const char* defect : {"", "stall"}) {
        Camera camera;
        Fault fault;
        fault.stream = defect;
        fault.afterPictures = 0;
        camera.SetFault("img/mjpeg.cgi", fault);
        ASSERT_TRUE(camera.Start());
        std::atomic<size_t> received{0};
        std::atomic<bool> ended{false};
        std::thread client([&] {
            platform::HttpStream stream(StreamRequest(camera));
            char block[4096];
            if (stream.Open())
                while (size_t n = stream.Read(block, sizeof block))
                    received += n;
            ended = true;
        });
        while (received.load() < kMJpegHeaderSize && !ended.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(ended.load());
        EXPECT_EQ(camera.ActiveStreams(), 1);
        camera.Stop();
        client.join();
        EXPECT_EQ(camera.ActiveStreams(), 0) << defect;
    }
}
