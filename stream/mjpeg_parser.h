#pragma once
// Cuts the camera's Motion-JPEG stream into packets (a 48-byte header, then its payload),
// reassembles pictures from their video packets and queues pictures and audio packets. Blocks may
// split packets anywhere. The parser trusts the length fields and never searches for a tag: one
// bad header ends the connection.

#include <cstddef>
#include <cstdint>

class CFrameChain;

inline constexpr size_t kMJpegHeaderSize = 48;

// The packet header, packed little-endian on the wire (the code size starts at odd offset 23).
struct MJpegPacketHeader
{
    uint8_t tag[4];
    uint32_t frameSize;
    uint16_t width;
    uint16_t height;
    uint32_t frameOffset;
    uint16_t payloadLength;
    uint32_t timestamp;
    uint8_t type; // 1 video, 2 audio
    uint16_t audioCodeSize;
    uint8_t version;
    char text[20];
};

MJpegPacketHeader DecodeMJpegHeader(const uint8_t* bytes);

// What the stream shows the client it must start.
class IMJpegParserEvents
{
public:
    virtual ~IMJpegParserEvents() = default;
    // Once per connection, with the first video packet's size.
    virtual void StartPainter(int width, int height) = 0;
    // Once per connection, on the first audio packet; false leaves audio off.
    virtual bool StartAudio(int codeSize, int frameSize) = 0;
};

class CMJpegParser
{
public:
    static constexpr int kVideoQueueLimit = 10;
    static constexpr int kAudioQueueLimit = 5;
    // A picture larger than this is not held: the camera's largest JPEG is far below it, and a
    // hostile frame size must not take the process's memory.
    static constexpr uint32_t kMaxFrameSize = 32u << 20;

    CMJpegParser(CFrameChain& video, CFrameChain& audio, IMJpegParserEvents& events);
    ~CMJpegParser();
    CMJpegParser(const CMJpegParser&) = delete;
    CMJpegParser& operator=(const CMJpegParser&) = delete;

    // The camera's refusal pages are looked for in the stream's first bytes read as text: at most
    // this many, and only up to a zero byte.
    static constexpr size_t kRefusalWindow = 255;

    // A new connection: header mode, no partial packet or picture, nothing started yet, and the
    // stream's first bytes are checked for the camera's refusal pages.
    void Reset();
    // Parses the whole block. Throws CMJpegPlayerException (310, 300, 430) for a refusal page or
    // malformed data and std::bad_alloc when a buffer cannot be had. The first bytes are held, not
    // parsed, until they show whether the stream is a refusal page, however the reads split them.
    void ParseBlock(const uint8_t* data, size_t size);
    // The stream ended, or its read gave up, while its first bytes were still held: a short
    // refusal page throws as in ParseBlock.
    void EndOfStream();
    // Frees a partly received packet and picture.
    void FreePartial();

    bool PainterStarted() const { return m_painterStarted; }
    bool AudioEnabled() const { return m_audioEnabled; }

private:
    void Parse(const uint8_t* data, size_t size);
    void HeaderStep(const uint8_t* data, size_t size, size_t& cursor);
    void PayloadStep(const uint8_t* data, size_t size, size_t& cursor);
    void CheckRefusal() const;

    CFrameChain& m_video;
    CFrameChain& m_audio;
    IMJpegParserEvents& m_events;

    bool m_payloadMode = false;
    uint8_t m_headerBytes[kMJpegHeaderSize] = {};
    size_t m_headerFill = 0;
    MJpegPacketHeader m_header{}; // the current packet's

    uint8_t* m_packet = nullptr;
    size_t m_packetFill = 0;

    uint8_t* m_picture = nullptr; // non-null while a picture is being assembled
    uint32_t m_pictureSize = 0;
    uint32_t m_pictureFill = 0;
    uint32_t m_pictureTimestamp = 0; // from the picture's first header

    bool m_painterStarted = false;
    bool m_audioAttempted = false;
    bool m_audioEnabled = false;
    bool m_firstData = true; // the first bytes are still being gathered
    uint8_t m_firstBytes[kRefusalWindow] = {};
    size_t m_firstFill = 0;
};
