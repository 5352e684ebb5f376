#include "camsim/asf_stream.h"

#include "camsim/camera.h"
#include "camsim/mpeg4_narrow.h"
#include "camsim/paced_reply.h"
#include "camsim/scene.h"
#include "camsim/sound.h"
#include "camsim/zone_motion.h"

#include <httplib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace camsim {

namespace {

constexpr const char* kEndpoint = "img/video.asf";
constexpr uint32_t kAudioSlackMs = 20;
constexpr int kMaxPayloads = 63;           // the low 6 bits of the payload flags
constexpr size_t kFirstPayloadHeader = 17; // with 8 bytes of replicated data
constexpr size_t kOtherPayloadHeader = 9;

using Guid = std::array<uint8_t, 16>;

// Stored form of a GUID: the first three groups little-endian, the last two as written.
constexpr Guid MakeGuid(uint32_t a, uint16_t b, uint16_t c, uint64_t d)
{
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g[size_t(i)] = uint8_t(a >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g[size_t(4 + i)] = uint8_t(b >> (8 * i));
        g[size_t(6 + i)] = uint8_t(c >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        g[size_t(8 + i)] = uint8_t(d >> (8 * (7 - i)));
    return g;
}

constexpr Guid kHeaderObject = MakeGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6C);
constexpr Guid kFileProperties = MakeGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365);
constexpr Guid kStreamProperties = MakeGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365);
constexpr Guid kHeaderExtension = MakeGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365);
constexpr Guid kReserved1 = MakeGuid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365);
constexpr Guid kPaddingObject = MakeGuid(0x1806D474, 0xCADF, 0x4509, 0xA4BA9AABCB96AAE8);
constexpr Guid kDataObject = MakeGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6C);
constexpr Guid kVideoMedia = MakeGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B);
constexpr Guid kAudioMedia = MakeGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B);
constexpr Guid kNoErrorCorrection = MakeGuid(0x20FB5700, 0x5B55, 0x11CF, 0xA8FD00805F5C442B);
// Any fixed value: a live stream is one file as far as its receivers know.
constexpr Guid kFileId = MakeGuid(0x3C1B6D5A, 0x0E42, 0x4F4B, 0x9A7C63616D73696DULL);

constexpr uint16_t kG726FormatTag = 0x0045;
constexpr uint32_t kBroadcastFlag = 0x01;

void Put(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

void Put(std::string& out, const Guid& guid)
{
    out.append(reinterpret_cast<const char*>(guid.data()), guid.size());
}

// An object of its GUID, size and body.
std::string Object(const Guid& guid, const std::string& body)
{
    std::string out;
    Put(out, guid);
    Put(out, 24 + body.size(), 8);
    out += body;
    return out;
}

std::string StreamProperties(const Guid& type, int number, const std::string& typeSpecific)
{
    std::string body;
    Put(body, type);
    Put(body, kNoErrorCorrection);
    Put(body, 0, 8); // time offset
    Put(body, typeSpecific.size(), 4);
    Put(body, 0, 4); // error correction data length
    Put(body, uint64_t(number), 2);
    Put(body, 0, 4); // reserved
    body += typeSpecific;
    return Object(kStreamProperties, body);
}

// libavcodec's MPEG-4 encoder held to what the narrow layout can carry: one thread (more write
// slices with resync markers), no B-pictures, H.263 quantisation, key frames exactly every `gop`
// pictures, the configuration headers out of band.
class VideoEncoder
{
public:
    VideoEncoder(int width, int height, int fps, int gop, int bitrate)
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec)
            throw std::runtime_error("no MPEG-4 encoder");
        m_ctx = avcodec_alloc_context3(codec);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_ctx || !m_frame || !m_packet) {
            Free();
            throw std::runtime_error("MPEG-4 encoder setup failed");
        }
        m_ctx->width = width;
        m_ctx->height = height;
        m_ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        m_ctx->time_base = AVRational{1, fps};
        m_ctx->framerate = AVRational{fps, 1};
        m_ctx->gop_size = gop;
        m_ctx->max_b_frames = 0;
        m_ctx->bit_rate = bitrate;
        m_ctx->thread_count = 1;
        m_ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Scene cuts would add key frames the receiver's key-frame wait does not expect.
        if (av_opt_set_int(m_ctx->priv_data, "sc_threshold", 1000000000, 0) < 0 ||
            av_opt_set_int(m_ctx->priv_data, "mpeg_quant", 0, 0) < 0 ||
            avcodec_open2(m_ctx, codec, nullptr) < 0) {
            Free();
            throw std::runtime_error("MPEG-4 encoder open failed");
        }
        auto config = NarrowConfigHeaders(m_ctx->extradata, size_t(m_ctx->extradata_size));
        m_frame->format = AV_PIX_FMT_YUV420P;
        m_frame->width = width;
        m_frame->height = height;
        if (!config || av_frame_get_buffer(m_frame, 0) < 0) {
            Free();
            throw std::runtime_error("MPEG-4 configuration headers do not fit the narrow layout");
        }
        m_config = std::move(*config);
        m_gop = gop;
    }

    ~VideoEncoder() { Free(); }
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    const std::vector<uint8_t>& Config() const { return m_config; }
    // The luma plane of the last picture encoded.
    Plane Luma() const { return {m_frame->data[0], m_frame->linesize[0]}; }

    // One picture from its RGB pixels: frame bytes from the picture start code on.
    void Encode(const uint8_t* rgb, int64_t index, bool forceKey, std::vector<uint8_t>& frame,
                bool& key)
    {
        if (av_frame_make_writable(m_frame) < 0)
            throw std::runtime_error("MPEG-4 frame buffer unavailable");
        RgbToYuv420(rgb, m_ctx->width, m_ctx->height, {m_frame->data[0], m_frame->linesize[0]},
                    {m_frame->data[1], m_frame->linesize[1]},
                    {m_frame->data[2], m_frame->linesize[2]});
        m_frame->pts = index;
        m_frame->pict_type =
            forceKey || index % m_gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        // Without B-pictures the encoder has no delay: each picture comes straight back.
        if (avcodec_send_frame(m_ctx, m_frame) < 0 || avcodec_receive_packet(m_ctx, m_packet) < 0)
            throw std::runtime_error("MPEG-4 encoding failed");
        frame = StripGroupOfVop(m_packet->data, size_t(m_packet->size));
        key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(m_packet);
        static constexpr uint8_t kVop[] = {0x00, 0x00, 0x01, 0xB6};
        if (frame.size() < sizeof kVop || !std::equal(kVop, kVop + sizeof kVop, frame.begin()))
            throw std::runtime_error("MPEG-4 frame does not start with a picture");
    }

private:
    void Free()
    {
        avcodec_free_context(&m_ctx);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
    }

    AVCodecContext* m_ctx = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_config;
    int m_gop = 1;
};

} // namespace

struct AsfStreamSource::Impl
{
    Impl(const AsfStreamOptions& o, int bitrate)
        : scene(o.width, o.height), video(o.width, o.height, o.fps, o.gop, bitrate),
          meter(o.width, o.height)
    {
    }
    Scene scene;
    VideoEncoder video;
    ZoneMotionMeter meter;
    std::unique_ptr<SoundEncoder> sound;
    std::string header;
    std::vector<uint8_t> frame;
    std::string codes;

    // The packet being filled: its payloads, their count and its send time.
    std::string payloads;
    int payloadCount = 0;
    uint32_t sendTimeMs = 0;
    uint8_t videoNumber = 0, audioNumber = 0;
};

// One media object and the pieces it is sent in, in order; each piece is cut further to fit the
// packets. Only the first fragment carries the replicated data.
struct AsfStreamSource::MediaObject
{
    struct Piece
    {
        size_t offset, length;
    };
    uint8_t streamByte = kAsfVideoStream;
    uint8_t number = 0;
    uint32_t timeMs = 0;
    std::string_view data;
    std::vector<Piece> pieces;
    bool video = false;
    bool wholeFirstPiece = false; // start a packet rather than split the first piece
    bool shiftLastOffset = false; // the outside-object defect
};

AsfStreamSource::AsfStreamSource(const AsfStreamOptions& options, StreamFault fault)
    : m_options(options), m_fault(fault)
{
    const auto& o = m_options;
    if (o.width < 16 || o.height < 16 || o.width > 2048 || o.height > 2048 || o.width % 2 ||
        o.height % 2)
        throw std::invalid_argument("picture size out of range");
    if (o.fps < 1 || o.fps > 60)
        throw std::invalid_argument("picture rate out of range");
    if (o.gop < 1 || o.gop > 600)
        throw std::invalid_argument("GOP length out of range");
    if (o.packetSize < kAsfMinPacketSize || o.packetSize > kAsfMaxPacketSize)
        throw std::invalid_argument("packet size out of range");
    if (o.audioCodeSize != 0 && (o.audioCodeSize < 2 || o.audioCodeSize > 5))
        throw std::invalid_argument("audio code size must be 0 or 2 to 5");
    if (o.bitrate < 0)
        throw std::invalid_argument("negative bit rate");
    const int bitrate = o.bitrate != 0 ? o.bitrate : o.width * o.height / 5 * o.fps;
    m_packetSize = m_fault.defect == StreamDefect::BigPacket ? kAsfBigPacketSize : o.packetSize;
    if (m_fault.defect == StreamDefect::Fuzz) {
        m_fuzz = std::make_unique<StreamFuzzer>(m_fault.seed);
        m_packetSize = m_fuzz->AsfPacketSize(m_packetSize);
    }

    m_impl = std::make_unique<Impl>(o, bitrate);
    if (o.audioCodeSize != 0)
        m_impl->sound = std::make_unique<SoundEncoder>(o.audioCodeSize);

    // Header objects: file properties, video, audio, header extension, and the padding of the
    // big-header defect.
    std::vector<std::string> objects;
    {
        const uint32_t audioRate = uint32_t(o.audioCodeSize * kAudioRate);
        std::string body;
        Put(body, kFileId);
        Put(body, 0, 8); // file size: invalid while broadcasting
        // Creation date: 100 ns units since 1601.
        constexpr int64_t kUnixEpochIn1601Ms = 11644473600000;
        Put(body, o.startUnixMs > 0 ? uint64_t(o.startUnixMs + kUnixEpochIn1601Ms) * 10000 : 0,
            8);
        Put(body, 0, 8); // data packets count: invalid while broadcasting
        Put(body, 0, 8); // play duration
        Put(body, 0, 8); // send duration
        Put(body, 0, 8); // preroll, so presentation times are the media times
        Put(body, kBroadcastFlag, 4);
        Put(body, uint64_t(m_packetSize), 4); // minimum data packet size
        Put(body, uint64_t(m_packetSize), 4); // maximum
        Put(body, uint64_t(bitrate) * 2 + audioRate, 4);
        objects.push_back(Object(kFileProperties, body));
    }
    {
        std::vector<uint8_t> config = m_impl->video.Config();
        if (m_fuzz)
            m_fuzz->Mpeg4Config(config);
        const uint32_t formatSize = uint32_t(40 + config.size());
        std::string ts;
        Put(ts, uint64_t(o.width), 4);
        Put(ts, uint64_t(o.height), 4);
        Put(ts, 2, 1); // reserved flags
        Put(ts, formatSize, 2);
        // Bitmap information header, then the codec data.
        Put(ts, formatSize, 4);
        Put(ts, uint64_t(o.width), 4);
        Put(ts, uint64_t(o.height), 4);
        Put(ts, 1, 2);  // planes
        Put(ts, 24, 2); // bits per pixel
        ts += "MP4S";
        Put(ts, uint64_t(o.width) * uint64_t(o.height) * 3, 4);
        ts.append(16, '\0'); // resolution and palette fields
        ts.append(config.begin(), config.end());
        objects.push_back(StreamProperties(kVideoMedia, kAsfVideoStream, ts));
    }
    if (o.audioCodeSize != 0) {
        std::string wave;
        Put(wave, kG726FormatTag, 2);
        Put(wave, 1, 2); // channels
        Put(wave, kAudioRate, 4);
        Put(wave, uint64_t(o.audioCodeSize) * kAudioRate / 8, 4);
        Put(wave, 1, 2); // block alignment
        Put(wave, uint64_t(o.audioCodeSize), 2);
        Put(wave, 0, 2); // no extra bytes
        objects.push_back(StreamProperties(kAudioMedia, kAsfAudioStream, wave));
    }
    {
        std::string body;
        Put(body, kReserved1);
        Put(body, 6, 2);
        Put(body, 0, 4); // no extension objects
        objects.push_back(Object(kHeaderExtension, body));
    }
    if (m_fault.defect == StreamDefect::BigHeader)
        objects.push_back(Object(kPaddingObject, std::string(kAsfMaxHeaderObjects, '\0')));

    std::string& h = m_impl->header;
    size_t size = kAsfHeaderPreambleSize;
    for (const auto& object : objects)
        size += object.size();
    Put(h, kHeaderObject);
    Put(h, size, 8);
    Put(h, objects.size(), 4);
    Put(h, 0x01, 1); // reserved, as the format fixes them
    Put(h, 0x02, 1);
    for (const auto& object : objects)
        h += object;

    Put(h, kDataObject);
    Put(h, kAsfDataObjectHeaderSize, 8); // the length of a live stream is not known
    Put(h, kFileId);
    Put(h, 0, 8); // total data packets: invalid while broadcasting
    Put(h, 0x0101, 2);
    if (m_fuzz) {
        m_fuzz->AsfHeader(h);
        m_headerStop = m_fuzz->Cut(h.size(), true);
    }
}

AsfStreamSource::~AsfStreamSource() = default;

const std::string& AsfStreamSource::Header() const
{
    return m_impl->header;
}

const std::vector<uint8_t>& AsfStreamSource::VideoConfig() const
{
    return m_impl->video.Config();
}

uint32_t AsfStreamSource::NextTimeMs() const
{
    return uint32_t(m_pictures * 1000 / uint64_t(m_options.fps));
}

uint32_t AsfStreamSource::NextAudioTimeMs() const
{
    if (!m_impl->sound)
        return std::numeric_limits<uint32_t>::max();
    return uint32_t(m_audioObjects * kAsfAudioSamplesPerObject * 1000 / kAudioRate);
}

uint32_t AsfStreamSource::NextAudioDueMs() const
{
    const uint64_t due = uint64_t(NextAudioTimeMs()) + uint64_t(std::max(0, m_fault.audioDelayMs));
    return uint32_t(std::min<uint64_t>(due, std::numeric_limits<uint32_t>::max()));
}

bool AsfStreamSource::AudioGoesAlone() const
{
    return m_impl->sound && uint64_t(NextAudioDueMs()) + kAudioSlackMs < NextTimeMs();
}

void AsfStreamSource::ClosePacket(std::string& out, bool zoneLevels)
{
    Impl& s = *m_impl;
    const size_t padding = size_t(m_packetSize) - kAsfPacketHeaderSize - s.payloads.size();
    Put(out, 0x82, 1); // error correction present, two bytes of it
    Put(out, 0, 2);
    Put(out, 0x11, 1); // several payloads; padding length a word; no packet length or sequence
    Put(out, 0x5D,
        1); // replicated data length a byte, offset a dword, object number a byte, stream a byte
    Put(out, padding, 2);
    Put(out, s.sendTimeMs, 4);
    Put(out, 0, 2);                               // duration
    Put(out, 0x80 | uint64_t(s.payloadCount), 1); // payload lengths are words
    out += s.payloads;
    const size_t zone = zoneLevels && padding >= kAsfZoneLevelBytes ? kAsfZoneLevelBytes : 0;
    out.append(reinterpret_cast<const char*>(m_zoneLevels.data()), zone);
    out.append(padding - zone, '\0');
    s.payloads.clear();
    s.payloadCount = 0;
}

void AsfStreamSource::Pack(const MediaObject& o, std::string& out)
{
    Impl& s = *m_impl;
    const size_t capacity = size_t(m_packetSize) - kAsfPacketHeaderSize;
    bool first = true;
    for (size_t k = 0; k < o.pieces.size(); ++k) {
        const bool lastPiece = k + 1 == o.pieces.size();
        size_t offset = o.pieces[k].offset;
        size_t left = o.pieces[k].length;
        bool empty = first && left == 0; // an empty object still goes out, as an empty payload
        while (left > 0 || empty) {
            const size_t header = first ? kFirstPayloadHeader : kOtherPayloadHeader;
            const size_t room = capacity - s.payloads.size();
            if (s.payloadCount == kMaxPayloads || room < header + 1 ||
                (first && o.wholeFirstPiece && room < header + left && capacity >= header + left)) {
                ClosePacket(out, false);
                continue;
            }
            size_t take = std::min(left, room - header);
            // A completing video fragment must leave room for the zone levels after it.
            const bool completes = o.video && lastPiece && take == left;
            if (completes && room - header - take < kAsfZoneLevelBytes) {
                take = left == 0 ? 0 : std::min(left - 1, room - header);
                if (take == 0) {
                    ClosePacket(out, false);
                    continue;
                }
            }
            const bool last = lastPiece && take == left;
            Put(s.payloads, o.streamByte, 1);
            Put(s.payloads, o.number, 1);
            Put(s.payloads, offset + (last && o.shiftLastOffset ? 1 : 0), 4);
            if (first) {
                Put(s.payloads, 8, 1);
                Put(s.payloads, o.data.size(), 4);
                Put(s.payloads, o.timeMs, 4);
            } else {
                Put(s.payloads, 0, 1);
            }
            Put(s.payloads, take, 2);
            s.payloads.append(o.data.substr(offset, take));
            ++s.payloadCount;
            first = false;
            empty = false;
            offset += take;
            left -= take;
            if (o.video && last)
                ClosePacket(out, true);
        }
    }
}

void AsfStreamSource::AppendAudioObject(std::string& out)
{
    Impl& s = *m_impl;
    s.codes.clear();
    s.sound->Encode(kAsfAudioSamplesPerObject, s.codes);
    MediaObject o;
    o.streamByte = kAsfAudioStream;
    if (m_fault.defect == StreamDefect::AudioKey && !m_audioKeySent &&
        m_pictures >= uint64_t(std::max(0, m_fault.afterPictures))) {
        o.streamByte |= kAsfKeyFrameBit;
        m_audioKeySent = true;
    }
    o.number = s.audioNumber++;
    o.timeMs = NextAudioTimeMs();
    o.data = s.codes;
    const size_t frameSize = kAsfAudioSamplesPerObject / 4;
    const bool asFirst = m_audioObjects == 0 || m_options.joinable;
    if (asFirst && frameSize < s.codes.size()) {
        o.pieces = {{0, frameSize}, {frameSize, s.codes.size() - frameSize}};
        o.wholeFirstPiece = true;
    } else {
        o.pieces = {{0, s.codes.size()}};
        o.wholeFirstPiece = asFirst;
    }
    Pack(o, out);
    ++m_audioObjects;
}

void AsfStreamSource::NextAudio(std::string& out)
{
    m_stop = {};
    if (!m_impl->sound)
        return;
    const size_t start = out.size();
    m_impl->sendTimeMs = NextAudioDueMs();
    AppendAudioObject(out);
    if (m_impl->payloadCount != 0)
        ClosePacket(out, false);
    if (m_fuzz) {
        m_fuzz->AsfPackets(out, start, size_t(m_packetSize));
        m_stop = m_fuzz->Cut(out.size() - start, false);
    }
}

void AsfStreamSource::SetZoneLevels(std::array<uint8_t, 4> levels)
{
    m_measuredZones.reset();
    m_zoneLevels = levels;
}

void AsfStreamSource::MeasureZones(const ZoneConfig& zones)
{
    m_measuredZones = zones;
}

void AsfStreamSource::SetAim(int x, int y)
{
    m_impl->scene.SetAim(x, y);
}

void AsfStreamSource::Next(std::string& out)
{
    Impl& s = *m_impl;
    m_stop = {};
    const size_t start = out.size();
    const uint32_t timeMs = NextTimeMs();
    const StreamDefect defect = m_fault.defect != StreamDefect::None &&
                                        m_pictures == uint64_t(std::max(0, m_fault.afterPictures))
                                    ? m_fault.defect
                                    : StreamDefect::None;
    s.sendTimeMs = timeMs;
    while (s.sound && NextAudioDueMs() <= timeMs)
        AppendAudioObject(out);

    bool key = false;
    s.video.Encode(s.scene.Render(timeMs, m_pictures), int64_t(m_pictures), m_keyRequested,
                   s.frame, key);
    m_keyRequested = false;
    m_lastKey = key;
    if (m_fuzz)
        m_fuzz->Mpeg4Frame(s.frame, key);
    {
        // The encoder's own luma: no second conversion. Fixed levels still feed the meter, so
        // measuring again starts from the picture before rather than a stale one.
        static const ZoneConfig kNoZones{};
        const Plane luma = s.video.Luma();
        const auto measured =
            s.meter.Measure(luma.data, luma.stride, m_measuredZones ? *m_measuredZones : kNoZones);
        if (m_measuredZones)
            m_zoneLevels = measured;
    }
    MediaObject o;
    o.video = true;
    o.streamByte = key ? kAsfVideoStream | kAsfKeyFrameBit : kAsfVideoStream;
    o.number = s.videoNumber++;
    o.timeMs = timeMs;
    o.data = std::string_view(reinterpret_cast<const char*>(s.frame.data()), s.frame.size());
    const size_t size = s.frame.size();
    if (defect == StreamDefect::FillOverflow)
        o.pieces = {{0, size / 3}, {0, size / 3}, {size / 3, size - size / 3}};
    else
        o.pieces = {{0, size}};
    o.shiftLastOffset = defect == StreamDefect::OutsideObject;
    Pack(o, out);

    if (defect == StreamDefect::Close || defect == StreamDefect::Stall ||
        defect == StreamDefect::ShortPacket) {
        m_stop.at = size_t(m_packetSize) / 2;
        m_stop.kind = defect == StreamDefect::Close   ? StopKind::Close
                      : defect == StreamDefect::Stall ? StopKind::StallWhileFault
                                                      : StopKind::End;
    }
    if (m_fuzz) {
        m_fuzz->AsfPackets(out, start, size_t(m_packetSize));
        m_stop = m_fuzz->Cut(out.size() - start, false);
    }
    ++m_pictures;
}

std::string RecordAsfStream(const AsfStreamOptions& options, int pictures, StreamFault fault)
{
    AsfStreamSource source(options, fault);
    std::string out = source.Header();
    if (source.HeaderStop().at != StreamStop::kNone) {
        out.resize(source.HeaderStop().at);
        return out;
    }
    RecordSource(source, pictures, out);
    return out;
}

namespace {

void AsfStreamReply(Camera& camera, const httplib::Request& req, httplib::Response& res)
{
    AsfStreamOptions options;
    options.gop = camera.GetConfig().gop;
    options.audioCodeSize = camera.GetConfig().audioCodeSize;
    ServePacedStream<AsfStreamSource>(camera, req, res, kEndpoint, "video/x-ms-asf", options,
                                      camera.GetConfig().asfSize);
}

} // namespace

void AddAsfEndpoint(Camera& camera)
{
    camera.AddEndpoint("GET", kEndpoint,
                       [&camera](const httplib::Request& req, httplib::Response& res) {
                           AsfStreamReply(camera, req, res);
                       });
}

} // namespace camsim
