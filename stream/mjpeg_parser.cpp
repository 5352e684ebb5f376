#include "stream/mjpeg_parser.h"

#include "stream/byte_order.h"
#include "stream/frame_chain.h"
#include "stream/media_sinks.h"
#include "stream/stream_worker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace {

[[noreturn]] void Malformed(const char* message)
{
    throw CMJpegPlayerException(kResultMalformed, message);
}

} // namespace

MJpegPacketHeader DecodeMJpegHeader(const uint8_t* b)
{
    MJpegPacketHeader h;
    std::memcpy(h.tag, b, 4);
    h.frameSize = Le32(b + 4);
    h.width = Le16(b + 8);
    h.height = Le16(b + 10);
    h.frameOffset = Le32(b + 12);
    h.payloadLength = Le16(b + 16);
    h.timestamp = Le32(b + 18);
    h.type = b[22];
    h.audioCodeSize = Le16(b + 23);
    h.version = b[25];
    std::memcpy(h.text, b + 26, sizeof h.text);
    return h;
}

CMJpegParser::CMJpegParser(CFrameChain& video, CFrameChain& audio, IMJpegParserEvents& events)
    : m_video(video), m_audio(audio), m_events(events)
{
}

CMJpegParser::~CMJpegParser()
{
    FreePartial();
}

void CMJpegParser::Reset()
{
    FreePartial();
    m_payloadMode = false;
    m_headerFill = 0;
    m_painterStarted = false;
    m_audioAttempted = false;
    m_audioEnabled = false;
    m_firstData = true;
    m_firstFill = 0;
}

void CMJpegParser::FreePartial()
{
    FreeFrameData(m_packet);
    m_packet = nullptr;
    m_packetFill = 0;
    FreeFrameData(m_picture);
    m_picture = nullptr;
    m_pictureFill = 0;
    m_pictureSize = 0;
    m_payloadMode = false;
    m_headerFill = 0;
}

namespace {

constexpr std::string_view kBusyTitle = "<HTML><HEAD><TITLE>503";
constexpr std::string_view kDeniedTitle = "<HTML><HEAD><TITLE>401";

// The bytes as the refusal check reads them: text up to the first zero byte.
std::string_view AsText(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    return text.substr(0, text.find('\0'));
}

} // namespace

void CMJpegParser::ParseBlock(const uint8_t* data, size_t size)
{
    if (m_firstData) {
        const size_t take = std::min(kRefusalWindow - m_firstFill, size);
        if (take)
            std::memcpy(m_firstBytes + m_firstFill, data, take);
        m_firstFill += take;
        data += take;
        size -= take;
        // Decided by a zero byte (every packet header has some), a full window, or the busy
        // title, which wins over anything after it. Until then nothing is parsed.
        const std::string_view text = AsText(m_firstBytes, m_firstFill);
        if (text.size() == m_firstFill && m_firstFill < kRefusalWindow &&
            text.find(kBusyTitle) == std::string_view::npos)
            return;
        m_firstData = false;
        CheckRefusal();
        Parse(m_firstBytes, m_firstFill);
    }
    Parse(data, size);
}

void CMJpegParser::EndOfStream()
{
    if (!m_firstData)
        return;
    m_firstData = false;
    CheckRefusal();
}

void CMJpegParser::Parse(const uint8_t* data, size_t size)
{
    size_t cursor = 0;
    while (cursor < size) {
        if (m_payloadMode)
            PayloadStep(data, size, cursor);
        else
            HeaderStep(data, size, cursor);
    }
}

void CMJpegParser::CheckRefusal() const
{
    const std::string_view text = AsText(m_firstBytes, m_firstFill);
    if (text.find(kBusyTitle) != std::string_view::npos)
        throw CMJpegPlayerException(kResultBusy,
                                    "Unable to connect to Camera - too many users already "
                                    "connected or\ndevice is busy. Please try again later.");
    if (text.find(kDeniedTitle) != std::string_view::npos)
        throw CMJpegPlayerException(kResultCredentials, "User name or password error.");
}

void CMJpegParser::HeaderStep(const uint8_t* data, size_t size, size_t& cursor)
{
    size_t take = std::min(kMJpegHeaderSize - m_headerFill, size - cursor);
    std::memcpy(m_headerBytes + m_headerFill, data + cursor, take);
    m_headerFill += take;
    cursor += take;
    if (m_headerFill < kMJpegHeaderSize)
        return;

    const MJpegPacketHeader h = DecodeMJpegHeader(m_headerBytes);
    if (h.type != 1 && h.type != 2)
        Malformed("Header type error.");
    if (std::memcmp(h.tag, "MJPG", 4) != 0)
        Malformed("Header tag error.");
    if (h.version != 1)
        Malformed("Header version error.");

    FreeFrameData(m_packet);
    m_packet = AllocFrameDataOrThrow(h.payloadLength);
    m_packetFill = 0;
    m_header = h;

    if (h.type == 1) {
        if (!m_picture) {
            if (h.frameOffset != 0)
                Malformed("Header frame begin offset location error.");
            if (h.frameSize > kMaxFrameSize)
                throw std::bad_alloc();
            m_picture = AllocFrameDataOrThrow(h.frameSize);
            m_pictureSize = h.frameSize;
            m_pictureFill = 0;
            m_pictureTimestamp = h.timestamp;
        }
        if (m_pictureFill != h.frameOffset)
            Malformed("Header frame offset location error.");
        // The picture buffer holds exactly the frame size; a packet that would pass its end is
        // refused rather than written past it.
        if (h.payloadLength > m_pictureSize - m_pictureFill)
            Malformed("Header frame size error.");
        if (!m_painterStarted) {
            if (!IsStreamPictureSize(h.width, h.height))
                Malformed("Header picture size error.");
            m_painterStarted = true;
            m_events.StartPainter(h.width, h.height);
        }
    } else if (!m_audioEnabled && !m_audioAttempted) {
        m_audioAttempted = true;
        m_audioEnabled = m_events.StartAudio(h.audioCodeSize, static_cast<int>(h.frameSize));
    }

    m_payloadMode = true;
    m_headerFill = 0;
}

void CMJpegParser::PayloadStep(const uint8_t* data, size_t size, size_t& cursor)
{
    const size_t length = m_header.payloadLength;
    size_t take = std::min(length - m_packetFill, size - cursor);
    std::memcpy(m_packet + m_packetFill, data + cursor, take);
    m_packetFill += take;
    cursor += take;
    if (m_packetFill < length)
        return;

    if (m_header.type == 1) {
        std::memcpy(m_picture + m_pictureFill, m_packet, length);
        m_pictureFill += static_cast<uint32_t>(length);
        FreeFrameData(m_packet);
        m_packet = nullptr;
        if (m_pictureFill == m_pictureSize) {
            uint8_t* picture = m_picture;
            m_picture = nullptr;
            if (m_video.GetCount() >= kVideoQueueLimit)
                FreeFrameData(picture);
            else
                m_video.AddOrFree(picture, static_cast<int32_t>(m_pictureSize),
                                  m_pictureTimestamp);
        }
    } else {
        uint8_t* packet = m_packet;
        m_packet = nullptr;
        if (m_audioEnabled && m_audio.GetCount() < kAudioQueueLimit)
            m_audio.AddOrFree(packet, static_cast<int32_t>(length), m_header.timestamp);
        else
            FreeFrameData(packet);
    }
    m_packetFill = 0;
    m_payloadMode = false;
}
