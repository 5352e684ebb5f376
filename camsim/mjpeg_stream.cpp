#include "camsim/mjpeg_stream.h"

#include "camsim/camera.h"
#include "camsim/paced_reply.h"
#include "camsim/scene.h"

#include <httplib.h>

// libjpeg's header needs size_t and FILE declared first.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace camsim {

namespace {

constexpr const char* kEndpoint = "img/mjpeg.cgi";
// An audio packet due no later than this before the next picture rides along with it.
constexpr uint32_t kAudioSlackMs = 20;

struct Header
{
    char tag[4] = {'M', 'J', 'P', 'G'};
    uint32_t frameSize = 0;
    uint16_t width = 0, height = 0;
    uint32_t offset = 0;
    uint16_t length = 0;
    uint32_t timeMs = 0;
    uint8_t type = kMJpegVideo;
    uint16_t codeSize = 0;
    uint8_t version = 1;
};

void Put(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

void AppendHeader(std::string& out, const Header& h, const std::string& text)
{
    out.append(h.tag, 4);
    Put(out, h.frameSize, 4);
    Put(out, h.width, 2);
    Put(out, h.height, 2);
    Put(out, h.offset, 4);
    Put(out, h.length, 2);
    Put(out, h.timeMs, 4);
    Put(out, h.type, 1);
    Put(out, h.codeSize, 2);
    Put(out, h.version, 1);
    char field[20] = {};
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
    out.append(field, sizeof field);
    Put(out, 0, 2); // reserved
}

// One compressor for the life of the stream, writing into a buffer that only ever grows.
class JpegEncoder
{
public:
    JpegEncoder(int width, int height, int quality) : m_width(width), m_height(height)
    {
        m_cinfo.err = jpeg_std_error(&m_error.pub);
        m_error.pub.error_exit = OnError;
        m_error.pub.output_message = [](j_common_ptr) {};
        m_cinfo.client_data = this; // kept by jpeg_create_compress
        if (setjmp(m_error.jump)) {
            if (m_created)
                jpeg_destroy_compress(&m_cinfo);
            throw std::runtime_error("JPEG compressor setup failed");
        }
        jpeg_create_compress(&m_cinfo);
        m_created = true;
        m_dest.init_destination = InitDestination;
        m_dest.empty_output_buffer = EmptyOutputBuffer;
        m_dest.term_destination = TermDestination;
        m_cinfo.dest = &m_dest;
        m_cinfo.image_width = JDIMENSION(width);
        m_cinfo.image_height = JDIMENSION(height);
        m_cinfo.input_components = 3;
        m_cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&m_cinfo);
        jpeg_set_quality(&m_cinfo, quality, TRUE);
        m_rows.resize(size_t(height));
        m_buffer.resize(64 * 1024);
    }

    ~JpegEncoder()
    {
        if (m_created)
            jpeg_destroy_compress(&m_cinfo);
    }

    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The JPEG file stays valid until the next call.
    std::string_view Encode(const uint8_t* rgb)
    {
        for (int y = 0; y < m_height; ++y)
            m_rows[size_t(y)] = const_cast<JSAMPROW>(rgb + size_t(y) * size_t(m_width) * 3);
        if (!Compress())
            throw std::runtime_error("JPEG compression failed");
        return {reinterpret_cast<const char*>(m_buffer.data()), m_length};
    }

private:
    struct ErrorManager
    {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
    };

    // Only trivially destructible locals here: libjpeg reports errors by longjmp.
    bool Compress()
    {
        if (setjmp(m_error.jump)) {
            jpeg_abort_compress(&m_cinfo);
            return false;
        }
        jpeg_start_compress(&m_cinfo, TRUE);
        jpeg_write_scanlines(&m_cinfo, m_rows.data(), JDIMENSION(m_height));
        jpeg_finish_compress(&m_cinfo);
        return true;
    }

    static void OnError(j_common_ptr cinfo)
    {
        auto* self = static_cast<JpegEncoder*>(cinfo->client_data);
        std::longjmp(self->m_error.jump, 1);
    }
    static JpegEncoder& Of(j_compress_ptr cinfo)
    {
        return *static_cast<JpegEncoder*>(cinfo->client_data);
    }
    static void InitDestination(j_compress_ptr cinfo)
    {
        JpegEncoder& self = Of(cinfo);
        self.m_dest.next_output_byte = self.m_buffer.data();
        self.m_dest.free_in_buffer = self.m_buffer.size();
    }
    static boolean EmptyOutputBuffer(j_compress_ptr cinfo)
    {
        // Called with the whole buffer full.
        JpegEncoder& self = Of(cinfo);
        const size_t used = self.m_buffer.size();
        self.m_buffer.resize(used * 2);
        self.m_dest.next_output_byte = self.m_buffer.data() + used;
        self.m_dest.free_in_buffer = used;
        return TRUE;
    }
    static void TermDestination(j_compress_ptr cinfo)
    {
        JpegEncoder& self = Of(cinfo);
        self.m_length = self.m_buffer.size() - self.m_dest.free_in_buffer;
    }

    int m_width, m_height;
    jpeg_compress_struct m_cinfo{};
    ErrorManager m_error{};
    jpeg_destination_mgr m_dest{};
    bool m_created = false;
    std::vector<JSAMPROW> m_rows;
    std::vector<uint8_t> m_buffer;
    size_t m_length = 0;
};

bool ParseInt(std::string_view text, int& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

} // namespace

bool ParseStreamDefect(std::string_view name, StreamDefect& defect)
{
    static constexpr std::pair<std::string_view, StreamDefect> kNames[] = {
        {"close", StreamDefect::Close},
        {"stall", StreamDefect::Stall},
        {"bad-tag", StreamDefect::BadTag},
        {"bad-type", StreamDefect::BadType},
        {"bad-version", StreamDefect::BadVersion},
        {"bad-offset", StreamDefect::BadOffset},
        {"big-frame", StreamDefect::BigFrame},
        {"audio-key", StreamDefect::AudioKey},
        {"outside-object", StreamDefect::OutsideObject},
        {"fill-overflow", StreamDefect::FillOverflow},
        {"short-packet", StreamDefect::ShortPacket},
        {"big-header", StreamDefect::BigHeader},
        {"big-packet", StreamDefect::BigPacket},
        {"fuzz", StreamDefect::Fuzz},
    };
    for (const auto& [text, value] : kNames)
        if (text == name) {
            defect = value;
            return true;
        }
    return false;
}

bool ParseMJpegSize(std::string_view text, int& width, int& height)
{
    static constexpr std::pair<int, int> kSizes[] = {
        {160, 120}, {160, 128}, {320, 240}, {640, 480}, {704, 480}};
    const size_t x = text.find('x');
    int w = 0, h = 0;
    if (x == std::string_view::npos || !ParseInt(text.substr(0, x), w) ||
        !ParseInt(text.substr(x + 1), h))
        return false;
    for (const auto& [sw, sh] : kSizes)
        if (sw == w && sh == h) {
            width = w;
            height = h;
            return true;
        }
    return false;
}

struct MJpegStreamSource::Impl
{
    Impl(const MJpegStreamOptions& o) : scene(o.width, o.height), jpeg(o.width, o.height, o.quality)
    {
    }
    Scene scene;
    JpegEncoder jpeg;
    std::unique_ptr<SoundEncoder> sound;
    std::string codes;
};

MJpegStreamSource::MJpegStreamSource(const MJpegStreamOptions& options, StreamFault fault)
    : m_options(options), m_fault(fault)
{
    const auto& o = m_options;
    if (o.width < 8 || o.height < 8 || o.width > 4096 || o.height > 4096)
        throw std::invalid_argument("picture size out of range");
    if (o.fps < 1 || o.fps > 1000)
        throw std::invalid_argument("picture rate out of range");
    // Below 8 bytes a 5-bit audio packet would not fit; above 65535 the length field would not.
    if (o.maxPayload < 8 || o.maxPayload > 65535)
        throw std::invalid_argument("payload limit out of range");
    if (o.audioCodeSize != 0 && (o.audioCodeSize < 2 || o.audioCodeSize > 5))
        throw std::invalid_argument("audio code size must be 0 or 2 to 5");
    if (o.quality < 1 || o.quality > 100)
        throw std::invalid_argument("quality out of range");

    if (m_fault.defect == StreamDefect::Fuzz) {
        m_fuzz = std::make_unique<StreamFuzzer>(m_fault.seed);
        m_options.maxPayload = m_fuzz->MJpegPayloadLimit(o.maxPayload);
    }
    m_impl = std::make_unique<Impl>(o);
    if (o.audioCodeSize != 0) {
        // Multiples of 8 samples fill whole bytes at every code size, so no packet leaves bits
        // over for the next one.
        const int fit = int(o.maxPayload / size_t(o.audioCodeSize)) * 8;
        m_samplesPerPacket = std::min(kAudioSamplesPerPacket, fit);
        m_impl->sound = std::make_unique<SoundEncoder>(o.audioCodeSize);
    }
}

MJpegStreamSource::~MJpegStreamSource() = default;

uint32_t MJpegStreamSource::NextTimeMs() const
{
    return uint32_t(m_pictures * 1000 / uint64_t(m_options.fps));
}

uint32_t MJpegStreamSource::NextAudioTimeMs() const
{
    if (m_samplesPerPacket == 0)
        return std::numeric_limits<uint32_t>::max();
    return uint32_t(m_audioPackets * uint64_t(m_samplesPerPacket) * 1000 / kAudioRate);
}

uint32_t MJpegStreamSource::NextAudioDueMs() const
{
    const uint64_t due = uint64_t(NextAudioTimeMs()) + uint64_t(std::max(0, m_fault.audioDelayMs));
    return uint32_t(std::min<uint64_t>(due, std::numeric_limits<uint32_t>::max()));
}

bool MJpegStreamSource::AudioGoesAlone() const
{
    return m_samplesPerPacket != 0 && uint64_t(NextAudioDueMs()) + kAudioSlackMs < NextTimeMs();
}

void MJpegStreamSource::AppendAudioPacket(std::string& out)
{
    m_impl->codes.clear();
    m_impl->sound->Encode(m_samplesPerPacket, m_impl->codes);
    Header h;
    h.type = kMJpegAudio;
    h.frameSize = uint32_t(m_samplesPerPacket / 4);
    h.length = uint16_t(m_impl->codes.size());
    h.timeMs = NextAudioTimeMs();
    h.codeSize = uint16_t(m_options.audioCodeSize);
    AppendHeader(out, h, m_options.text);
    out += m_impl->codes;
    ++m_audioPackets;
}

void MJpegStreamSource::NextAudio(std::string& out)
{
    m_stop = {};
    if (m_samplesPerPacket == 0)
        return;
    const size_t start = out.size();
    AppendAudioPacket(out);
    if (m_fuzz) {
        m_fuzz->MJpegPackets(out, start);
        m_stop = m_fuzz->Cut(out.size() - start, false);
    }
}

void MJpegStreamSource::SetAim(int x, int y)
{
    m_impl->scene.SetAim(x, y);
}

void MJpegStreamSource::Next(std::string& out)
{
    m_stop = {};
    const size_t start = out.size();
    const uint32_t timeMs = NextTimeMs();
    const StreamDefect defect = m_fault.defect != StreamDefect::None &&
                                        m_pictures == uint64_t(std::max(0, m_fault.afterPictures))
                                    ? m_fault.defect
                                    : StreamDefect::None;
    std::string_view jpeg = m_impl->jpeg.Encode(m_impl->scene.Render(timeMs, m_pictures));
    if (m_fuzz) {
        m_picture.assign(jpeg);
        m_fuzz->Jpeg(m_picture);
        jpeg = m_picture;
    }
    const size_t packets = (jpeg.size() + m_options.maxPayload - 1) / m_options.maxPayload;

    // An empty picture still goes out, as one empty packet.
    for (size_t index = 0, offset = 0; index == 0 || offset < jpeg.size(); ++index) {
        const size_t length = std::min(m_options.maxPayload, jpeg.size() - offset);
        Header h;
        h.frameSize = uint32_t(jpeg.size());
        h.width = uint16_t(m_options.width);
        h.height = uint16_t(m_options.height);
        h.offset = uint32_t(offset);
        h.length = uint16_t(length);
        h.timeMs = timeMs;
        const bool first = index == 0;
        switch (defect) {
        case StreamDefect::BadTag:
            if (first)
                h.tag[3] = 'X';
            break;
        case StreamDefect::BadType:
            if (first)
                h.type = 3;
            break;
        case StreamDefect::BadVersion:
            if (first)
                h.version = 2;
            break;
        case StreamDefect::BadOffset:
            if (index == (packets > 1 ? 1u : 0u))
                h.offset += 1;
            break;
        case StreamDefect::BigFrame:
            h.frameSize = uint32_t(jpeg.size() * 2);
            break;
        case StreamDefect::Close:
        case StreamDefect::Stall:
            if (first) {
                m_stop.at = out.size() - start + kMJpegHeaderSize + length / 2;
                m_stop.kind = defect == StreamDefect::Close ? StopKind::Close
                                                            : StopKind::StallWhileFault;
            }
            break;
        case StreamDefect::None:
        case StreamDefect::Fuzz:
        case StreamDefect::AudioKey: // the ASF stream's own
        case StreamDefect::OutsideObject:
        case StreamDefect::FillOverflow:
        case StreamDefect::ShortPacket:
        case StreamDefect::BigHeader:
        case StreamDefect::BigPacket:
            break;
        }
        AppendHeader(out, h, m_options.text);
        out.append(jpeg.substr(offset, length));
        offset += length;
        // The sound due by now goes between the picture's packets: receivers must cope with it.
        if (first)
            while (m_samplesPerPacket != 0 && NextAudioDueMs() <= timeMs)
                AppendAudioPacket(out);
    }
    if (m_fuzz) {
        m_fuzz->MJpegPackets(out, start);
        m_stop = m_fuzz->Cut(out.size() - start, m_pictures == 0);
    }
    ++m_pictures;
}

std::string RecordMJpegStream(const MJpegStreamOptions& options, int pictures, StreamFault fault)
{
    MJpegStreamSource source(options, fault);
    std::string out;
    RecordSource(source, pictures, out);
    return out;
}

namespace {

void MJpegReply(Camera& camera, const httplib::Request& req, httplib::Response& res)
{
    MJpegStreamOptions options;
    options.audioCodeSize = camera.GetConfig().audioCodeSize;
    ServePacedStream<MJpegStreamSource>(camera, req, res, kEndpoint, "application/octet-stream",
                                        options, camera.GetConfig().mjpegSize);
}

} // namespace

void AddMJpegEndpoint(Camera& camera)
{
    camera.AddEndpoint("GET", kEndpoint,
                       [&camera](const httplib::Request& req, httplib::Response& res) {
                           MJpegReply(camera, req, res);
                       });
}

} // namespace camsim
