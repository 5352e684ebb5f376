#include "stream/asf_parser.h"

#include "stream/byte_order.h"
#include "stream/frame_chain.h"
#include "stream/media_sinks.h"
#include "stream/stream_worker.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

using Guid = uint8_t[16];
// Stored form: the first three fields little-endian.
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

// A media object larger than this is not held: the camera's pictures are far smaller, and a
// hostile object size must not take the process's memory.
constexpr uint32_t kMaxObjectSize = 16u << 20;

constexpr uint8_t kVideo = 0x01, kVideoKey = 0x81, kAudio = 0x02;

[[noreturn]] void Fail(int code, const std::string& message)
{
    throw CPlayerException(code, message);
}

[[noreturn]] void Malformed(const char* message)
{
    Fail(kResultMalformed, message);
}

uint8_t* NewObject(uint32_t size)
{
    if (size > kMaxObjectSize)
        throw std::bad_alloc();
    return AllocFrameDataOrThrow(size);
}

// Creation date (100 ns units since 1601) less the preroll (ms), in ms since 1970; 0 for a date
// not set or before 1970, or a preroll that is no live stream's (over an hour).
int64_t StreamStart(uint64_t creation, uint64_t prerollMs)
{
    constexpr uint64_t kUnixEpochIn1601Ms = 11644473600000;
    const uint64_t ms = creation / 10000;
    if (ms <= kUnixEpochIn1601Ms || prerollMs > 3600000)
        return 0;
    const int64_t start = int64_t(ms - kUnixEpochIn1601Ms) - int64_t(prerollMs);
    return start > 0 ? start : 0;
}

} // namespace

CAsfParser::CAsfParser(const AsfProfile& profile, CFrameChain& video, CFrameChain* audio,
                       IAsfParserEvents& events)
    : m_profile(profile), m_video(video), m_audio(audio), m_events(events)
{
}

CAsfParser::~CAsfParser()
{
    FreeObjects();
}

void CAsfParser::FreeObjects()
{
    FreeFrameData(m_videoObject);
    m_videoObject = nullptr;
    m_videoTotal = m_videoFill = 0;
    m_videoStarted = false;
    FreeFrameData(m_audioObject);
    m_audioObject = nullptr;
    m_audioTotal = m_audioFill = 0;
}

void CAsfParser::Reset()
{
    FreeObjects();
    m_headerObjects = 0;
    m_packetSize = 0;
    m_audioCodeSize = 0;
    m_streamStart = 0;
    m_objectSize = 0;
    m_presentationTime = 0;
    m_audioAttempted = false;
    m_audioEnabled = false;
    m_keyFrameWait = false;
    // The zone level bytes stay: the meter shows the last levels until a picture brings new ones.
}

size_t CAsfParser::CheckPreamble(const uint8_t* preamble)
{
    char text[kAsfPreambleSize + 1];
    std::memcpy(text, preamble, kAsfPreambleSize);
    text[kAsfPreambleSize] = '\0';
    if (std::strstr(text, "<HTML><HEAD><TITLE>503"))
        Fail(kResultBusy, "Unable to connect to Camera - too many users already connected or\n"
                          "device is busy. Please try again later.");
    if (std::memcmp(preamble, kAsfHeaderObject, 16) != 0)
        Fail(kResultCredentials, "User name or password error");
    const uint32_t objectSize = Le32(preamble + 16);
    m_headerObjects = Le32(preamble + 24);
    // The header objects are read into a buffer of fixed size; a larger header is refused.
    if (objectSize < kAsfPreambleSize || objectSize - kAsfPreambleSize > kAsfHeaderBufferSize)
        Malformed("Header size error.");
    return objectSize - kAsfPreambleSize;
}

void CAsfParser::ParseHeader(const uint8_t* header, size_t size)
{
    bool fileProperties = false;
    size_t at = 0;
    for (uint32_t i = 0; i < m_headerObjects; ++i) {
        if (size - at < 24)
            Malformed("Header object size error.");
        const uint8_t* object = header + at;
        const uint32_t objectSize = Le32(object + 16);
        if (objectSize < 24 || objectSize > size - at)
            Malformed("Header object size error.");
        if (std::memcmp(object, kFileProperties, 16) == 0 && objectSize >= 96) {
            m_packetSize = Le32(object + 92);
            m_streamStart = StreamStart(Le64(object + 48), Le64(object + 80));
            fileProperties = true;
        } else if (std::memcmp(object, kStreamProperties, 16) == 0 && objectSize >= 40) {
            const uint8_t* type = object + 24;
            if (std::memcmp(type, kVideoMedia, 16) == 0 && objectSize >= 129) {
                const uint32_t formatSize = Le32(object + 89);
                const int32_t width = static_cast<int32_t>(Le32(object + 93));
                const int32_t height = static_cast<int32_t>(Le32(object + 97));
                size_t configLength = formatSize > 40 ? formatSize - 40 : 0;
                if (configLength > objectSize - 129)
                    Malformed("Header object size error.");
                if (!IsStreamPictureSize(width, height))
                    Malformed("Header picture size error.");
                m_events.PrepareVideo(width, height, object + 129, configLength);
            } else if (m_profile.audio && std::memcmp(type, kAudioMedia, 16) == 0 &&
                       objectSize >= 94) {
                m_audioCodeSize = Le16(object + 92);
            }
        }
        at += objectSize;
    }
    // Without File Properties the packet size is unknown; a packet the buffer cannot hold, or one
    // too short for its own fixed fields, is refused.
    if (!fileProperties || m_packetSize < 14 || m_packetSize > kAsfMaxPacketSize)
        Malformed("Header packet size error.");
}

void CAsfParser::ParsePacket(const uint8_t* packet)
{
    const size_t end = m_packetSize;
    const uint16_t padding = Le16(packet + 5);
    const int payloads = packet[13] & 0x3F;
    // A live sender never sends a packet that carries nothing; taking such packets would keep a
    // stream of them connected for good, working on every one without a picture.
    if (payloads == 0)
        Malformed("Packet without payload.");
    size_t at = 14;
    for (int i = 0; i < payloads; ++i)
        Payload(packet, at, end, padding);
}

void CAsfParser::Payload(const uint8_t* packet, size_t& at, size_t end, uint16_t padding)
{
    if (end - at < 7)
        Malformed("Payload past the packet.");
    const uint8_t* p = packet + at;
    const uint8_t streamByte = p[0];
    if (streamByte != kVideo && streamByte != kVideoKey && streamByte != kAudio) {
        char message[32];
        std::snprintf(message, sizeof message, "Bad StreamNo: %u", unsigned(streamByte));
        Fail(kResultStreamNumber, message);
    }
    const uint32_t offset = Le32(p + 2);
    const uint8_t replicated = p[6];
    // A replicated length of 1 marks compressed payloads, which this layout never carries.
    if (replicated == 1)
        Malformed("Compressed payload.");
    size_t fieldsEnd = at + 7 + replicated + 2;
    if (fieldsEnd > end)
        Malformed("Payload past the packet.");
    const uint32_t length = Le16(packet + at + 7 + replicated);
    if (length > end - fieldsEnd)
        Malformed("Payload past the packet.");
    const uint8_t* data = packet + fieldsEnd;
    at = fieldsEnd + length;

    const bool video = streamByte != kAudio;
    // Replicated data of any other length than 8 is stepped over; when it has 8 bytes or more,
    // its first 8 give the object's size and time and a new object begins.
    if (replicated >= 8) {
        m_objectSize = Le32(p + 7);
        m_presentationTime = Le32(p + 11);
        if (video) {
            FreeFrameData(m_videoObject);
            m_videoObject = nullptr;
            m_videoStarted = false;
            m_videoObject = NewObject(m_objectSize);
            m_videoTotal = m_objectSize;
            m_videoFill = 0;
            m_videoStarted = true;
        } else if (m_profile.audio) {
            FreeFrameData(m_audioObject);
            m_audioObject = nullptr;
            m_audioObject = NewObject(m_objectSize);
            m_audioTotal = m_objectSize;
            m_audioFill = 0;
        }
    }
    if (video)
        VideoPayload(streamByte, offset, data, length, data + length, packet + end, padding);
    else
        AudioPayload(offset, data, length);
}

void CAsfParser::VideoPayload(uint8_t streamByte, uint32_t offset, const uint8_t* data,
                              uint32_t length, const uint8_t* after, const uint8_t* packetEnd,
                              uint16_t padding)
{
    if (m_profile.videoChecks) {
        const uint32_t s = m_objectSize;
        if (s < offset || s < length || s - offset < length)
            Malformed("PayloadLength > MediaObjectSize");
        if (!m_videoStarted)
            Malformed("No new video buffer");
    }
    m_videoFill += length;
    // The object's own size bounds the copy too: the current size may be another stream's.
    if (m_videoFill > m_videoTotal || offset > m_videoTotal || length > m_videoTotal - offset) {
        FreeFrameData(m_videoObject);
        m_videoObject = nullptr;
        m_videoStarted = false;
        m_videoTotal = m_videoFill = 0;
        Malformed("nVideoFrameSize > nVideoTotalFrameSize");
    }
    if (length)
        std::memcpy(m_videoObject + offset, data, length);
    if (m_videoFill != m_videoTotal || !m_videoObject)
        return;

    if (m_profile.zoneLevels && padding >= 4 && packetEnd - after >= 4)
        std::memcpy(m_zoneLevels.data(), after, 4);
    uint8_t* frame = m_videoObject;
    m_videoObject = nullptr;
    m_videoStarted = false;
    QueueVideo(frame, streamByte == kVideoKey);
}

void CAsfParser::QueueVideo(uint8_t* frame, bool key)
{
    const uint32_t size = m_videoTotal;
    m_videoTotal = m_videoFill = 0;
    if (m_video.GetCount() > 2 * m_events.VideoCap()) {
        FreeFrameData(frame);
        m_keyFrameWait = true;
        return;
    }
    if (m_keyFrameWait) {
        if (!key) {
            FreeFrameData(frame);
            return;
        }
        m_keyFrameWait = false;
    }
    m_video.AddOrFree(frame, static_cast<int32_t>(size), m_presentationTime);
}

void CAsfParser::AudioPayload(uint32_t offset, const uint8_t* data, uint32_t length)
{
    if (!m_profile.audio || !m_audio)
        return; // discarded, stepped over by its length
    const uint32_t s = m_objectSize;
    if (s < offset || s < length || s - offset < length)
        Malformed("PayloadLength > MediaObjectSize");
    if (!m_audioAttempted) {
        m_audioAttempted = true;
        m_audioEnabled = m_events.StartAudio(m_audioCodeSize, static_cast<int>(length));
    }
    if (!m_audioEnabled) {
        FreeFrameData(m_audioObject);
        m_audioObject = nullptr;
        m_audioTotal = m_audioFill = 0;
        return;
    }
    m_audioFill += length;
    if (m_audioFill > m_audioTotal || offset > m_audioTotal || length > m_audioTotal - offset ||
        !m_audioObject) {
        FreeFrameData(m_audioObject);
        m_audioObject = nullptr;
        m_audioTotal = m_audioFill = 0;
        Malformed("nAudioFrameSize > nAudioTotalFrameSize");
    }
    if (length)
        std::memcpy(m_audioObject + offset, data, length);
    if (m_audioFill != m_audioTotal)
        return;
    if (m_audio->GetCount() > 2) {
        uint8_t* old;
        int32_t oldSize;
        uint32_t oldTime;
        if (FrameChainNode* node = m_audio->Remove(&old, &oldSize, &oldTime))
            FreeFrame(node);
    }
    uint8_t* frame = m_audioObject;
    const uint32_t size = m_audioTotal;
    m_audioObject = nullptr;
    m_audioTotal = m_audioFill = 0;
    m_audio->AddOrFree(frame, static_cast<int32_t>(size), m_presentationTime);
}
