#include "camsim/asf_stream.h"
#include "camsim/camera.h"
#include "camsim/paced_reply.h"
#include "camsim/scene.h"
#include "platform/http.h"

#include <gtest/gtest.h>

#include <spandsp.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace camsim;

namespace {

uint32_t Le(const std::string& s, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | uint8_t(s.at(at + size_t(i)));
    return v;
}

// GUIDs in their stored form, spelled out here rather than taken from the code under test.
const std::string kHeaderGuid("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C",
                              16);
const std::string
    kFilePropertiesGuid("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
const std::string
    kStreamPropertiesGuid("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
const std::string kVideoGuid("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B",
                             16);
const std::string kAudioGuid("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B",
                             16);
const std::string kDataGuid("\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);

struct Object
{
    uint8_t streamByte = 0;
    uint32_t size = 0, timeMs = 0, fill = 0;
    std::string data;
    size_t videoBefore = 0;  // video objects completed before this one began
    size_t firstPayload = 0; // length of its first payload
    bool zoneSeen = false;
    std::array<uint8_t, 4> zone{};
};

// Read the way the camera's receiver reads it (fixed offsets, size checks against the most recent
// replicated object size of either stream), plus what the layout promises beyond that. The first
// problem ends the parse, as it ends the receiver's connection: "what@N", N the number of video
// objects completed before it.
struct Parsed
{
    uint32_t packetSize = 0, width = 0, height = 0, codeSize = 0, formatTag = 0;
    uint32_t headerObjects = 0, fileFlags = 0;
    std::string config;
    std::vector<Object> video, audio;
    std::vector<uint32_t> sendTimes;
    std::string problem;
};

Parsed Parse(const std::string& s)
{
    Parsed r;
    auto fail = [&](const char* what) {
        if (r.problem.empty())
            r.problem = std::string(what) + "@" + std::to_string(r.video.size());
    };
    if (s.size() < 30 || s.compare(0, 16, kHeaderGuid) != 0)
        return fail("header"), r;
    const uint32_t headerSize = Le(s, 16, 4);
    const uint32_t count = Le(s, 24, 4);
    r.headerObjects = headerSize - 30;
    if (Le(s, 28, 1) != 1 || Le(s, 29, 1) != 2 || s.size() < headerSize + 50u)
        return fail("header"), r;
    size_t at = 30;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t size = Le(s, at + 16, 4);
        if (s.compare(at, 16, kFilePropertiesGuid) == 0) {
            r.packetSize = Le(s, at + 92, 4);
            r.fileFlags = Le(s, at + 88, 4);
            if (Le(s, at + 96, 4) != r.packetSize) // maximum as the minimum
                fail("header");
        } else if (s.compare(at, 16, kStreamPropertiesGuid) == 0) {
            if (s.compare(at + 24, 16, kVideoGuid) == 0) {
                const uint32_t formatSize = Le(s, at + 89, 4);
                r.width = Le(s, at + 93, 4);
                r.height = Le(s, at + 97, 4);
                r.config = s.substr(at + 129, formatSize - 40);
                if (Le(s, at + 72, 2) != 1 || at + 129 + formatSize - 40 != at + size)
                    fail("header");
            } else if (s.compare(at + 24, 16, kAudioGuid) == 0) {
                r.formatTag = Le(s, at + 78, 2);
                r.codeSize = Le(s, at + 92, 2);
                if (Le(s, at + 72, 2) != 2 || Le(s, at + 82, 4) != 8000)
                    fail("header");
            }
        }
        at += size;
    }
    if (at != headerSize || s.compare(at, 16, kDataGuid) != 0)
        return fail("header"), r;
    if (r.headerObjects > kAsfMaxHeaderObjects)
        return fail("big-header"), r;
    if (r.packetSize > size_t(kAsfMaxPacketSize))
        return fail("big-packet"), r;
    at += 50;

    uint32_t currentSize = 0;
    Object video, audio;
    bool videoStarted = false, audioStarted = false;
    for (; at < s.size() && r.problem.empty(); at += r.packetSize) {
        if (s.size() - at < r.packetSize)
            return fail("cut"), r;
        const std::string p = s.substr(at, r.packetSize);
        if (Le(p, 0, 1) != 0x82 || Le(p, 1, 2) != 0 || Le(p, 3, 1) != 0x11 || Le(p, 4, 1) != 0x5D ||
            (Le(p, 13, 1) & 0xC0) != 0x80)
            return fail("packet"), r;
        const uint32_t padding = Le(p, 5, 2);
        r.sendTimes.push_back(Le(p, 7, 4));
        const unsigned payloads = Le(p, 13, 1) & 0x3F;
        size_t q = 14;
        for (unsigned n = 0; n < payloads; ++n) {
            const uint8_t stream = uint8_t(Le(p, q, 1));
            const uint32_t offset = Le(p, q + 2, 4);
            const bool replicated = Le(p, q + 6, 1) == 8;
            if (!replicated && Le(p, q + 6, 1) != 0)
                return fail("replicated"), r;
            q += 7;
            uint32_t size = 0, timeMs = 0;
            if (replicated) {
                size = Le(p, q, 4);
                timeMs = Le(p, q + 4, 4);
                q += 8;
            }
            const uint32_t length = Le(p, q, 2);
            q += 2;
            if (q + length > p.size())
                return fail("packet"), r;
            const std::string data = p.substr(q, length);
            q += length;
            if (stream != 0x01 && stream != 0x81 && stream != 0x02)
                return fail("stream"), r;
            const bool isVideo = stream != 0x02;
            Object& o = isVideo ? video : audio;
            bool& started = isVideo ? videoStarted : audioStarted;
            if (replicated) {
                currentSize = size;
                if (started)
                    return fail("incomplete"), r;
                o = Object{};
                o.streamByte = stream;
                o.size = size;
                o.timeMs = timeMs;
                o.data.assign(size, '\0');
                o.videoBefore = r.video.size();
                o.firstPayload = length;
                started = true;
            }
            if (currentSize < offset || currentSize < length || currentSize - offset < length)
                return fail("outside"), r;
            if (!started)
                return fail("unstarted"), r;
            if ((o.fill += length) > o.size)
                return fail("overflow"), r;
            o.data.replace(offset, length, data);
            if (o.fill < o.size)
                continue;
            started = false;
            if (isVideo) {
                if (n + 1 != payloads)
                    return fail("not-last"), r;
                if (padding >= 4) {
                    o.zoneSeen = true;
                    for (size_t i = 0; i < 4; ++i)
                        o.zone[i] = uint8_t(p[q + i]);
                }
                r.video.push_back(o);
            } else {
                r.audio.push_back(o);
            }
        }
        if (q + padding != p.size())
            return fail("padding"), r;
    }
    return r;
}

// Luma PSNR of each picture libavcodec decodes from the stream's configuration and frames,
// against the scene rendered here at the picture's time stamp.
std::vector<double> DecodedPsnr(const Parsed& r, bool& keysMatch)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->extradata =
        static_cast<uint8_t*>(av_mallocz(r.config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(r.config.begin(), r.config.end(), ctx->extradata);
    ctx->extradata_size = int(r.config.size());
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    Scene scene(int(r.width), int(r.height));
    std::vector<uint8_t> y(size_t(r.width) * r.height), u(y.size() / 4), v(y.size() / 4);
    std::vector<double> psnr;
    keysMatch = true;
    for (size_t k = 0; k < r.video.size(); ++k) {
        const Object& o = r.video[k];
        av_new_packet(packet, int(o.data.size()));
        std::copy(o.data.begin(), o.data.end(), packet->data);
        EXPECT_EQ(avcodec_send_packet(ctx, packet), 0);
        av_packet_unref(packet);
        if (avcodec_receive_frame(ctx, frame) != 0)
            break;
        keysMatch =
            keysMatch && ((frame->pict_type == AV_PICTURE_TYPE_I) == (o.streamByte == 0x81));
        RgbToYuv420(scene.Render(o.timeMs, k), int(r.width), int(r.height),
                    {y.data(), ptrdiff_t(r.width)}, {u.data(), ptrdiff_t(r.width / 2)},
                    {v.data(), ptrdiff_t(r.width / 2)});
        double error = 0;
        for (uint32_t row = 0; row < r.height; ++row)
            for (uint32_t col = 0; col < r.width; ++col) {
                const double d = double(frame->data[0][row * unsigned(frame->linesize[0]) + col]) -
                                 y[row * r.width + col];
                error += d * d;
            }
        error /= double(y.size());
        psnr.push_back(10 * std::log10(255.0 * 255.0 / std::max(error, 1e-3)));
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return psnr;
}

double AudioSnr(const std::string& codes, int codeSize)
{
    g726_state_t* decoder =
        g726_init(nullptr, codeSize * 8000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
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
    request.url = camera.BaseUrl() + "img/video.asf" + query;
    request.idleTimeout = std::chrono::seconds(20);
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

// Zone 1 lies on the path the bar and the ball take in the stream's first half second, zone 2
// where nothing moves then, zone 3 as zone 1 but disabled, zone 4 the whole picture with the
// lowest threshold (the picture counter changes in every picture).
ZoneConfig SceneZones()
{
    ZoneConfig zones;
    zones.zones = {Zone{1, 128, 5, 120, 0, 240, 240}, Zone{1, 128, 5, 400, 300, 640, 480},
                   Zone{0, 128, 5, 120, 0, 240, 240}, Zone{1, 0, 5, 0, 0, 640, 480}};
    return zones;
}

constexpr int kSceneZonePictures = 15;

// The stream of a source that measures `zones`, as RecordAsfStream gives the others.
// The camera encodes a configuration once for all its clients; a connection that should see a
// stream from its start waits until the one before has let the encoder go.
void WaitForIdleEncoders(const Camera& camera)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (camera.RunningEncoders() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(camera.RunningEncoders(), 0);
}

std::string RecordMeasured(const AsfStreamOptions& o, const ZoneConfig& zones, int pictures)
{
    AsfStreamSource source(o);
    source.MeasureZones(zones);
    std::string out = source.Header();
    RecordSource(source, pictures, out);
    return out;
}

// The scene zones' levels of the first pictures at 30 pictures a second.
void ExpectSceneZoneLevels(const Parsed& r)
{
    ASSERT_EQ(r.problem, "");
    ASSERT_EQ(r.video.size(), size_t(kSceneZonePictures));
    EXPECT_EQ(r.video[0].zone, (std::array<uint8_t, 4>{})) << "nothing to compare with yet";
    for (size_t k = 1; k < r.video.size(); ++k) {
        const auto& zone = r.video[k].zone;
        EXPECT_EQ(zone[1], 0) << k;
        EXPECT_EQ(zone[2], 0) << k;
        EXPECT_GT(zone[3], 0) << k;
        // The ball has reached zone 1 by then and crosses it.
        if (k >= 10) {
            EXPECT_GE(zone[0], 64) << k;
        }
    }
}

} // namespace

TEST(AsfStream, PicturesDecodeToTheSceneWithKeyFramesEveryGopAtEverySizeAndPacketSize)
{
    const std::pair<int, int> sizes[] = {
        {160, 120}, {160, 128}, {320, 240}, {640, 480}, {704, 480}};
    for (int packetSize : {kAsfMinPacketSize, 1600, kAsfMaxPacketSize})
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " packets of " +
                         std::to_string(packetSize));
            AsfStreamOptions o;
            o.width = w;
            o.height = h;
            o.packetSize = packetSize;
            o.fps = 15;
            o.gop = 7;
            const int count = 16;
            AsfStreamSource source(o);
            const Parsed r = Parse(RecordAsfStream(o, count));
            ASSERT_EQ(r.problem, "");
            EXPECT_EQ(r.packetSize, uint32_t(packetSize));
            EXPECT_EQ(r.width * 10000 + r.height, uint32_t(w * 10000 + h));
            EXPECT_EQ(r.config,
                      std::string(source.VideoConfig().begin(), source.VideoConfig().end()));
            EXPECT_EQ(r.fileFlags & 1u, 1u); // broadcast
            EXPECT_LE(r.headerObjects, kAsfMaxHeaderObjects);
            ASSERT_EQ(r.video.size(), size_t(count));
            for (size_t k = 0; k < r.video.size(); ++k) {
                const Object& v = r.video[k];
                EXPECT_EQ(v.timeMs, k * 1000 / 15);
                EXPECT_EQ(v.streamByte, k % 7 == 0 ? 0x81 : 0x01) << k;
                EXPECT_EQ(v.data.compare(0, 4, std::string("\0\0\1\xB6", 4)), 0) << k;
                EXPECT_EQ(v.data.find(std::string("\0\0\1\xB3", 4)), std::string::npos) << k;
                // Every picture leaves room for the zone levels, zero until set.
                EXPECT_TRUE(v.zoneSeen) << k;
                EXPECT_EQ(v.zone, (std::array<uint8_t, 4>{})) << k;
            }
            bool keysMatch = false;
            const std::vector<double> psnr = DecodedPsnr(r, keysMatch);
            ASSERT_EQ(psnr.size(), size_t(count));
            EXPECT_TRUE(keysMatch);
            for (size_t k = 0; k < psnr.size(); ++k)
                EXPECT_GT(psnr[k], 28.0) << k;
        }
}

TEST(AsfStream, ZoneLevelsMeasureTheSceneInEnabledZonesAtEverySizeUnlessFixed)
{
    for (auto [w, h] : {std::pair{160, 120}, std::pair{640, 480}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        AsfStreamOptions o;
        o.width = w;
        o.height = h;
        ExpectSceneZoneLevels(Parse(RecordMeasured(o, SceneZones(), kSceneZonePictures)));
    }

    AsfStreamOptions o;
    o.width = 160;
    o.height = 120;
    o.audioCodeSize = 0;
    AsfStreamSource source(o);
    source.MeasureZones(SceneZones());
    std::string out = source.Header();
    RecordSource(source, 12, out);
    const auto measured = source.ZoneLevels();
    EXPECT_GE(measured[0], 64);
    source.SetZoneLevels({9, 8, 7, 6});
    RecordSource(source, 13, out);
    source.MeasureZones(SceneZones());
    RecordSource(source, 14, out);
    const Parsed r = Parse(out);
    ASSERT_EQ(r.video.size(), 14u);
    EXPECT_EQ(r.video[11].zone, measured);
    EXPECT_EQ(r.video[12].zone, (std::array<uint8_t, 4>{9, 8, 7, 6}));
    EXPECT_EQ(r.video[13].zone, source.ZoneLevels());
    // Measured against the fixed picture before, not the last one measured.
    const Parsed whole = Parse(RecordMeasured(o, SceneZones(), 14));
    ASSERT_EQ(whole.video.size(), 14u);
    EXPECT_EQ(r.video[13].zone, whole.video[13].zone);
}

TEST(AsfStream, AudioKeepsTheRealRateAndItsFirstPayloadIsAQuarterOfTheSamples)
{
    for (int fps : {30, 7, 1})
        for (int codeSize : {0, 2, 3, 4, 5}) {
            SCOPED_TRACE(std::to_string(fps) + " fps, " + std::to_string(codeSize) + " bits");
            AsfStreamOptions o;
            o.fps = fps;
            o.audioCodeSize = codeSize;
            const Parsed r = Parse(RecordAsfStream(o, fps * 3 + 1));
            ASSERT_EQ(r.problem, "");
            ASSERT_EQ(r.video.back().timeMs, 3000u);
            EXPECT_EQ(r.codeSize, uint32_t(codeSize));
            if (codeSize == 0) {
                EXPECT_TRUE(r.audio.empty());
                EXPECT_EQ(r.formatTag, 0u);
                continue;
            }
            EXPECT_EQ(r.formatTag, 0x45u);
            ASSERT_EQ(r.audio.size(), size_t(3000 / 120 + 1));
            EXPECT_EQ(r.audio[0].firstPayload, 240u);
            std::string codes;
            for (size_t j = 0; j < r.audio.size(); ++j) {
                const Object& a = r.audio[j];
                EXPECT_EQ(a.timeMs, j * 120);
                EXPECT_EQ(a.size, 120u * unsigned(codeSize));
                EXPECT_EQ(a.streamByte, 0x02);
                // Sent before the first picture not earlier than it, and not much before the
                // pictures that are.
                if (a.videoBefore < r.video.size()) {
                    EXPECT_LE(a.timeMs, r.video[a.videoBefore].timeMs) << j;
                }
                if (a.videoBefore > 0) {
                    EXPECT_GE(a.timeMs + 20, r.video[a.videoBefore - 1].timeMs) << j;
                }
                codes += a.data;
            }
            const double minimum[] = {0, 0, 15, 20, 25, 28};
            EXPECT_GT(AudioSnr(codes, codeSize), minimum[codeSize]);
            // Send times never go back.
            EXPECT_TRUE(std::is_sorted(r.sendTimes.begin(), r.sendTimes.end()));
        }
}

TEST(AsfStream, EachFaultGivesExactlyItsDefectAfterTheGoodPictures)
{
    const std::pair<const char*, const char*> cases[] = {
        {"audio-key", "stream"},
        {"outside-object", "outside"},
        {"fill-overflow", "overflow"},
        {"short-packet", "cut"},
        {"close", "cut"},
        {"stall", "cut"},
        {"big-header", "big-header"},
        {"big-packet", "big-packet"},
    };
    AsfStreamOptions o;
    o.packetSize = 1000;
    const std::string clean = RecordAsfStream(o, 9);
    const Parsed good = Parse(clean);
    ASSERT_EQ(good.problem, "");
    for (int after : {0, 2, 5})
        for (auto [name, problem] : cases) {
            SCOPED_TRACE(std::string(name) + " after " + std::to_string(after));
            StreamFault fault;
            ASSERT_TRUE(ParseStreamDefect(name, fault.defect));
            fault.afterPictures = after;
            const std::string faulty = RecordAsfStream(o, 9, fault);
            const Parsed r = Parse(faulty);
            size_t at = size_t(after);
            if (problem == std::string("stream"))
                for (const Object& a : good.audio)
                    if (a.videoBefore >= size_t(after)) {
                        at = a.videoBefore;
                        break;
                    }
            if (problem == std::string("big-header") || problem == std::string("big-packet"))
                at = 0;
            EXPECT_EQ(r.problem, std::string(problem) + "@" + std::to_string(at));
            for (size_t k = 0; k < std::min(at, r.video.size()); ++k)
                EXPECT_EQ(r.video[k].data, good.video[k].data);
            if (problem == std::string("cut")) {
                EXPECT_EQ(faulty, clean.substr(0, faulty.size()));
            }
        }
}

TEST(AsfStream, FfprobeReadsMpeg4VideoAndG726AudioOfTheRightSizeAndRate)
{
    if (std::system("command -v ffprobe >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffprobe is not installed (Debian package ffmpeg)";
    const auto dir = std::filesystem::temp_directory_path();
    const std::string file = (dir / ("camsim-asf-" + std::to_string(getpid()) + ".asf")).string();
    const std::string errors = file + ".err";
    AsfStreamOptions o;
    o.width = 640;
    o.height = 480;
    o.fps = 25;
    o.audioCodeSize = 3;
    const int seconds = 3;
    {
        std::ofstream out(file, std::ios::binary);
        out << RecordAsfStream(o, o.fps * seconds);
    }
    const std::string command =
        "ffprobe -v error -count_frames -show_streams -of json '" + file + "' 2>'" + errors + "'";
    std::string json;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char block[4096];
        while (size_t n = std::fread(block, 1, sizeof block, pipe))
            json.append(block, n);
        EXPECT_EQ(pclose(pipe), 0);
    }
    std::ifstream errorFile(errors);
    const std::string complaints((std::istreambuf_iterator<char>(errorFile)), {});
    std::filesystem::remove(file);
    std::filesystem::remove(errors);
    EXPECT_EQ(complaints, "");

    // One object per stream, in order: {"index": 0, ...}, {"index": 1, ...}.
    const size_t second = json.find("\"index\": 1");
    ASSERT_NE(second, std::string::npos) << json;
    const std::string video = json.substr(0, second), audio = json.substr(second);
    // The value of `"name": value` or `"name": "value"`.
    auto field = [](const std::string& text, const std::string& name) {
        size_t at = text.find("\"" + name + "\": ");
        if (at == std::string::npos)
            return std::string("(none)");
        at += name.size() + 4;
        if (text[at] == '"')
            ++at;
        return text.substr(at, text.find_first_of("\",\n", at) - at);
    };
    EXPECT_EQ(field(video, "codec_type"), "video");
    EXPECT_EQ(field(video, "codec_name"), "mpeg4");
    EXPECT_EQ(field(video, "width"), "640");
    EXPECT_EQ(field(video, "height"), "480");
    EXPECT_EQ(field(video, "has_b_frames"), "0");
    EXPECT_EQ(field(video, "nb_read_frames"), std::to_string(o.fps * seconds));
    EXPECT_EQ(field(audio, "codec_type"), "audio");
    EXPECT_EQ(field(audio, "codec_name"), "adpcm_g726");
    EXPECT_EQ(field(audio, "sample_rate"), "8000");
    EXPECT_EQ(field(audio, "channels"), "1");
    EXPECT_EQ(field(audio, "bit_rate"), "24000");
    // 120 ms each, up to the last picture at 2,960 ms.
    EXPECT_EQ(field(audio, "nb_read_frames"), "25");
}

TEST(AsfStreamHttp, StreamArrivesAsRecordedWithSpeedSizeGopAndZoneLevels)
{
    Config config;
    config.asfSize = "160x128";
    config.gop = 4;
    config.audioCodeSize = 2;
    Camera camera(config);
    ASSERT_TRUE(camera.Start());

    AsfStreamOptions o;
    o.width = 160;
    o.height = 128;
    o.gop = 4;
    o.audioCodeSize = 2;
    const std::string want = RecordAsfStream(o, 6);
    for (const char* query : {"", "?Speed=0", "?Speed=31", "?size=17x3"}) {
        WaitForIdleEncoders(camera);
        platform::HttpStream stream(StreamRequest(camera, query));
        ASSERT_TRUE(stream.Open());
        EXPECT_EQ(stream.Status(), 200);
        EXPECT_EQ(ReadUpTo(stream, want.size()), want) << query;
    }

    o.width = 704;
    o.height = 480;
    o.fps = 5;
    const Parsed slow = [&] {
        WaitForIdleEncoders(camera);
        platform::HttpStream stream(StreamRequest(camera, "?size=704x480&Speed=5"));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(stream.Open());
        const std::string want704 = RecordAsfStream(o, 3);
        const std::string got = ReadUpTo(stream, want704.size());
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
        EXPECT_EQ(got, want704);
        return Parse(got);
    }();
    ASSERT_EQ(slow.video.size(), 3u);
    EXPECT_EQ(slow.video[2].timeMs, 400u);
    EXPECT_EQ(slow.width, 704u);

    camera.SetZoneLevels({7, 0, 30, 200});
    EXPECT_EQ(camera.ZoneLevels(), (std::array<uint8_t, 4>{7, 0, 30, 200}));
    platform::HttpStream stream(StreamRequest(camera));
    ASSERT_TRUE(stream.Open());
    const Parsed r = Parse(ReadUpTo(stream, want.size()));
    ASSERT_GE(r.video.size(), 2u);
    for (const Object& v : r.video)
        EXPECT_EQ(v.zone, (std::array<uint8_t, 4>{7, 0, 30, 200}));
}

TEST(AsfStreamHttp, ZoneLevelsAreMeasuredInTheSavedZonesUntilFixed)
{
    Config config;
    config.asfSize = "160x120";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    platform::HttpRequest save;
    save.url = camera.BaseUrl() + "ocxparser.cgi";
    save.post = true;
    save.body = "COMMAND: MOT_SAVE_AREA\r\n" + FormatZoneReply(SceneZones()) + "\r\n";
    {
        platform::HttpStream stream(save);
        ASSERT_TRUE(stream.Open());
        char block[256];
        ASSERT_NE(std::string(block, stream.Read(block, sizeof block)).find("MOT: OK"),
                  std::string::npos);
    }

    AsfStreamOptions o;
    o.width = 160;
    o.height = 120;
    o.joinable = true;
    const std::string want = RecordMeasured(o, SceneZones(), kSceneZonePictures);
    auto measuredStream = [&] {
        WaitForIdleEncoders(camera);
        platform::HttpStream stream(StreamRequest(camera));
        EXPECT_TRUE(stream.Open());
        const std::string got = ReadUpTo(stream, want.size());
        EXPECT_EQ(got, want);
        ExpectSceneZoneLevels(Parse(got));
        // Its pictures have been measured before they were sent.
        const auto levels = camera.ZoneLevels();
        EXPECT_GT(levels[3], 0);
        EXPECT_EQ(levels[2], 0);
    };
    measuredStream();

    camera.SetZoneLevels({7, 0, 30, 200});
    {
        platform::HttpStream stream(StreamRequest(camera));
        ASSERT_TRUE(stream.Open());
        const Parsed r = Parse(ReadUpTo(stream, want.size()));
        ASSERT_GE(r.video.size(), 2u);
        for (const Object& v : r.video)
            EXPECT_EQ(v.zone, (std::array<uint8_t, 4>{7, 0, 30, 200}));
    }
    camera.MeasureZoneLevels();
    EXPECT_FALSE(camera.FixedZoneLevels());
    measuredStream();
}

TEST(AsfStreamHttp, BusyPageAtTheUserLimitAndEndingsOfTheFaultyStreams)
{
    Config config;
    config.maxUsers = 1;
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    {
        platform::HttpStream first(StreamRequest(camera));
        ASSERT_TRUE(first.Open());
        EXPECT_EQ(ReadUpTo(first, 16), kHeaderGuid);
        platform::HttpStream second(StreamRequest(camera));
        ASSERT_TRUE(second.Open());
        EXPECT_EQ(second.Status(), 503);
        EXPECT_EQ(ReadUpTo(second, 4096), kPage503);
    }
    while (camera.ActiveStreams() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    // A short packet ends the reply properly; a close drops the connection.
    for (const char* defect : {"short-packet", "close"}) {
        Fault fault;
        fault.stream = defect;
        fault.afterPictures = 1;
        camera.SetFault("img/video.asf", fault);
        StreamFault streamFault{StreamDefect::None, 1};
        ASSERT_TRUE(ParseStreamDefect(defect, streamFault.defect));
        const std::string cut = RecordAsfStream(AsfStreamOptions{}, 4, streamFault);
        platform::HttpStream stream(StreamRequest(camera));
        ASSERT_TRUE(stream.Open());
        EXPECT_EQ(ReadUpTo(stream, cut.size() + 100000), cut) << defect;
        EXPECT_EQ(stream.Complete(), defect == std::string("short-packet")) << defect;
        while (camera.ActiveStreams() != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST(AsfStreamHttp, ADatedStreamSaysWhenItsTimeZeroWasAndDelayedSoundComesLate)
{
    Config config;
    config.streamDate = true;
    Camera camera(config);
    std::string endpoint;
    Fault fault;
    ASSERT_TRUE(ParseFaultOption("img/video.asf:audio-delay=500", endpoint, fault));
    camera.SetFault(endpoint, fault);
    ASSERT_TRUE(camera.Start());
    auto unixMs = [] {
        return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
    };
    const uint64_t before = unixMs();
    platform::HttpStream stream(StreamRequest(camera));
    ASSERT_TRUE(stream.Open());
    const std::string got = ReadUpTo(stream, RecordAsfStream(AsfStreamOptions{}, 24).size());
    const uint64_t after = unixMs();

    // The file properties come first; their creation date counts 100 ns from 1601.
    const uint64_t date = (uint64_t(Le(got, 30 + 52, 4)) << 32 | Le(got, 30 + 48, 4)) / 10000;
    EXPECT_GE(date, before + 11644473600000);
    EXPECT_LE(date, after + 11644473600000);
    const Parsed r = Parse(got);
    ASSERT_EQ(r.problem, "");
    ASSERT_GE(r.audio.size(), 2u);
    // Each sound object keeps its time and goes just before the first picture taken 500 ms
    // after it.
    for (size_t j = 0; j < r.audio.size(); ++j) {
        const Object& a = r.audio[j];
        EXPECT_EQ(a.timeMs, j * 120);
        ASSERT_GT(a.videoBefore, 0u);
        ASSERT_LT(a.videoBefore, r.video.size());
        EXPECT_LT(r.video[a.videoBefore - 1].timeMs, a.timeMs + 500) << j;
        EXPECT_GE(r.video[a.videoBefore].timeMs, a.timeMs + 500) << j;
    }
}

TEST(AsfStreamHttp, StallWaitsForTheFaultToClearAndStopEndsAStalledStream)
{
    Camera camera;
    Fault stall;
    stall.stream = "stall";
    stall.afterPictures = 1;
    camera.SetFault("img/video.asf", stall);
    ASSERT_TRUE(camera.Start());
    const std::string cut = RecordAsfStream(AsfStreamOptions{}, 4, {StreamDefect::Stall, 1});
    const std::string whole = RecordAsfStream(AsfStreamOptions{}, 4);
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
    });
    while (received.load() < cut.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(received.load(), cut.size());
    camera.ClearFaults();
    reader.join();
    EXPECT_EQ(body, whole);

    // Stalled again, then the camera stops: the reply ends and frees its slot.
    camera.SetFault("img/video.asf", stall);
    std::atomic<bool> ended{false};
    received = 0;
    std::thread client([&] {
        platform::HttpStream stream(StreamRequest(camera));
        char block[4096];
        if (stream.Open())
            while (size_t n = stream.Read(block, sizeof block))
                received += n;
        ended = true;
    });
    while (received.load() < cut.size())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(ended.load());
    EXPECT_EQ(camera.ActiveStreams(), 1);
    camera.Stop();
    client.join();
    EXPECT_EQ(camera.ActiveStreams(), 0);
}
