#pragma once
// The fixed subset of ASF that the camera sends: a header object with file and stream
// properties, a data object header, then data packets of one size whose payloads carry MPEG-4
// video (stream 1) and G.726 audio (stream 2). Media objects are reassembled from their
// fragments and queued whole. Parsing is kept apart from reading, so it can be driven from memory.

#include <array>
#include <cstddef>
#include <cstdint>

class CFrameChain;

// The two modules' parsers differ only in these.
struct AsfProfile
{
    bool audio;              // take the audio code size, start audio, queue audio objects
    bool videoChecks;        // video payloads are checked against the media object first
    bool zoneLevels;         // keep the four bytes after a payload that completes a picture
    const char* packetReadError;
};
inline constexpr AsfProfile kViewerAsfProfile{true, true, false, "data reading error."};
inline constexpr AsfProfile kZoneAsfProfile{false, false, true, "data reading error4."};

// The Header Object's identifier as the stream stores it: every ASF stream begins with it.
inline constexpr uint8_t kAsfHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr size_t kAsfPreambleSize = 30;
inline constexpr size_t kAsfHeaderBufferSize = 1024;
inline constexpr size_t kAsfDataHeaderSize = 50;
inline constexpr size_t kAsfMaxPacketSize = 4096;

class IAsfParserEvents
{
public:
    virtual ~IAsfParserEvents() = default;
    // A video stream is described: prepare and start the painter (the bytes are only borrowed).
    virtual void PrepareVideo(int width, int height, const uint8_t* config, size_t length) = 0;
    // The first audio payload of the connection; false leaves audio off.
    virtual bool StartAudio(int codeSize, int frameSize) = 0;
    // The panel's video cap; the video queue takes a frame while it holds at most twice this.
    virtual int VideoCap() const = 0;
};

class CAsfParser
{
public:
    CAsfParser(const AsfProfile& profile, CFrameChain& video, CFrameChain* audio,
               IAsfParserEvents& events);
    ~CAsfParser();
    CAsfParser(const CAsfParser&) = delete;
    CAsfParser& operator=(const CAsfParser&) = delete;

    // A new connection: no objects in assembly, no packet size, audio not yet tried, no wait. The
    // zone level bytes are kept.
    void Reset();

    // The first 30 bytes: the busy page (310) or anything but the Header Object (300) refuse the
    // stream. Returns how many header bytes follow, refusing (430) more than the header buffer.
    size_t CheckPreamble(const uint8_t* preamble);
    // The header objects that followed the preamble. A header without File Properties, with a
    // packet size the packet buffer cannot hold, or with a picture size no camera sends, is
    // refused (430).
    void ParseHeader(const uint8_t* header, size_t size);
    uint32_t PacketSize() const { return m_packetSize; }
    // The wall time (ms since 1970) at which the stream's presentation time 0 less its preroll
    // was taken, from the file properties' creation date; 0 when the header gives none.
    int64_t StreamStartUnixMs() const { return m_streamStart; }
    int AudioCodeSize() const { return m_audioCodeSize; }

    // One data packet of PacketSize() bytes; one without payloads is malformed. Throws
    // CPlayerException (420, 430) and std::bad_alloc.
    void ParsePacket(const uint8_t* packet);

    // The last zone level bytes seen (zone 1 first).
    std::array<uint8_t, 4> ZoneLevels() const { return m_zoneLevels; }
    bool KeyFrameWait() const { return m_keyFrameWait; }
    // Frees objects in assembly.
    void FreeObjects();

private:
    void Payload(const uint8_t* packet, size_t& at, size_t end, uint16_t padding);
    void VideoPayload(uint8_t streamByte, uint32_t offset, const uint8_t* data, uint32_t length,
                      const uint8_t* after, const uint8_t* packetEnd, uint16_t padding);
    void AudioPayload(uint32_t offset, const uint8_t* data, uint32_t length);
    void QueueVideo(uint8_t* frame, bool key);

    AsfProfile m_profile;
    CFrameChain& m_video;
    CFrameChain* m_audio;
    IAsfParserEvents& m_events;

    uint32_t m_headerObjects = 0;
    uint32_t m_packetSize = 0;
    int m_audioCodeSize = 0;
    int64_t m_streamStart = 0;

    uint32_t m_objectSize = 0; // from the latest replicated data of either stream
    uint32_t m_presentationTime = 0;
    uint8_t* m_videoObject = nullptr;
    uint32_t m_videoTotal = 0, m_videoFill = 0;
    bool m_videoStarted = false;
    uint8_t* m_audioObject = nullptr;
    uint32_t m_audioTotal = 0, m_audioFill = 0;
    bool m_audioAttempted = false, m_audioEnabled = false;
    bool m_keyFrameWait = false;
    std::array<uint8_t, 4> m_zoneLevels{};
};
