#pragma once
// The simulated camera's live ASF stream ("img/video.asf") in the camera's fixed layout: a header
// object (file properties, a stream properties object for MPEG-4 video as stream 1 and one for
// G.726 audio as stream 2, a header extension), the 50-byte data object header, then data packets
// of one fixed size. Pictures of the synthetic scene are encoded live with libavcodec's MPEG-4
// encoder and carried with their configuration headers in the narrow layout (mpeg4_narrow.h).
//
// Every packet: error correction flags 0x82 and two zero bytes, length type flags 0x11 (several
// payloads, padding length a word), property flags 0x5D, padding length, send time, duration 0,
// payload flags 0x80 | payload count; payloads of stream byte, media object number, offset into
// the object, replicated data length (8 with object size and presentation time on an object's
// first fragment, 0 on the others) and a 16-bit length. Fragments of one object follow each other
// with nothing between, because the receiver checks every fragment against the most recent
// replicated object size of either stream. A payload that completes a video object ends its
// packet and is followed by the four zone level bytes, at the start of the padding.
//
// AsfStreamSource makes the bytes without networking or sleeping, so tests and benchmarks can
// record a stream in memory; AddAsfEndpoint paces the same bytes by real time over HTTP.

#include "camsim/mjpeg_stream.h"
#include "camsim/zones.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

class Camera;

inline constexpr size_t kAsfHeaderPreambleSize = 30;
inline constexpr size_t kAsfDataObjectHeaderSize = 50;
inline constexpr size_t kAsfPacketHeaderSize = 14;
inline constexpr int kAsfMinPacketSize = 128;
inline constexpr int kAsfMaxPacketSize = 4096;
// The receiver reads the header objects after the preamble into a buffer of this size.
inline constexpr size_t kAsfMaxHeaderObjects = 1024;
inline constexpr uint8_t kAsfVideoStream = 0x01;
inline constexpr uint8_t kAsfAudioStream = 0x02;
inline constexpr uint8_t kAsfKeyFrameBit = 0x80;
inline constexpr size_t kAsfZoneLevelBytes = 4;
// Audio objects hold 120 ms. The receiving player takes the length of the stream's first audio
// payload as its frame size F and plays one object per 4 × F samples, so the first object is
// sent as two payloads, the first of 960 / 4 bytes; with 2-bit codes that is the whole object.
inline constexpr int kAsfAudioSamplesPerObject = 960;

struct AsfStreamOptions
{
    int width = 320, height = 240;
    int fps = 30;
    int gop = 30;          // pictures from one key frame to the next
    int packetSize = 1600; // kAsfMinPacketSize to kAsfMaxPacketSize
    int audioCodeSize = 4; // G.726 bits per sample, 2 to 5; 0 = no audio
    int bitrate = 0;       // video bits per second; 0 = width × height × fps / 5
    // Every audio object goes out as the first one does (a first payload of the frame size,
    // starting a packet), so a receiver may start at any picture and still learn the frame size.
    bool joinable = false;
    // The wall time (ms since 1970) of the stream's time 0, sent as the file properties'
    // creation date so a receiver with the same clock can tell when each picture was taken;
    // 0 leaves the date unset, as in a recording.
    int64_t startUnixMs = 0;
};

// The ASF stream's defects (StreamDefect), once, after `afterPictures` good pictures unless said:
//   audio-key       the first audio object after them has stream byte 0x82
//   outside-object  the picture's last fragment claims an offset one byte further, past its object
//   fill-overflow   the picture's first third is sent twice, so its fill count passes its size
//   short-packet    the stream ends cleanly in the middle of the picture's first packet
//   close, stall    at the same place the connection drops, or nothing more comes until the
//                   fault is lifted
//   big-header      from the start: a padding object makes the header objects exceed 1,024 bytes
//   big-packet      from the start: packets of twice kAsfMaxPacketSize
//   fuzz            from the start: damage anywhere (stream_fuzz.h)
inline constexpr int kAsfBigPacketSize = 2 * kAsfMaxPacketSize;

class AsfStreamSource
{
public:
    // Throws std::invalid_argument for options it cannot produce, std::runtime_error when an
    // encoder fails.
    explicit AsfStreamSource(const AsfStreamOptions& options, StreamFault fault = {});
    ~AsfStreamSource();
    AsfStreamSource(const AsfStreamSource&) = delete;
    AsfStreamSource& operator=(const AsfStreamSource&) = delete;

    // The header object and the data object header: what goes before the first packet, and
    // where it stops when it is cut (fuzzing).
    const std::string& Header() const;
    const StreamStop& HeaderStop() const { return m_headerStop; }
    // The MPEG-4 configuration headers as the header carries them.
    const std::vector<uint8_t>& VideoConfig() const;
    int PacketSize() const { return m_packetSize; }

    // Appends the packets of the audio objects due by the next picture's time, then those of the
    // picture.
    // Where the virtual camera looks (Scene::SetAim).
    void SetAim(int x, int y);
    void Next(std::string& out);
    // Appends the packets of the next audio object alone; nothing when the stream has no audio.
    void NextAudio(std::string& out);

    uint32_t NextTimeMs() const;      // presentation time of the next picture
    uint32_t NextAudioTimeMs() const; // of the next audio object; UINT32_MAX without audio
    // When it goes out: its time, or later by the fault's audio delay.
    uint32_t NextAudioDueMs() const;
    // True when the next audio object is due well before the next picture, as at low picture
    // rates: then it goes alone, so the sound keeps its real rate instead of coming in bursts.
    bool AudioGoesAlone() const;
    uint64_t Pictures() const { return m_pictures; }
    // The next picture is a key picture, whatever the group length; a receiver joins there.
    void RequestKeyFrame() { m_keyRequested = true; }
    bool LastPictureKey() const { return m_lastKey; }

    // The zone level bytes of the pictures to come: fixed ones (zero until set), or the motion
    // each picture shows in these zones against the picture before (zone_motion.h).
    void SetZoneLevels(std::array<uint8_t, 4> levels);
    void MeasureZones(const ZoneConfig& zones);
    // The zone level bytes of the last picture.
    std::array<uint8_t, 4> ZoneLevels() const { return m_zoneLevels; }

    // Where and how the bytes that the last Next or NextAudio appended stop (close, stall and
    // short-packet faults, fuzzing); `at` is npos when they go out whole.
    const StreamStop& Stop() const { return m_stop; }
    size_t StopAt() const { return m_stop.at; }

private:
    struct Impl;
    struct MediaObject;
    void AppendAudioObject(std::string& out);
    void Pack(const MediaObject& object, std::string& out);
    void ClosePacket(std::string& out, bool zoneLevels);

    AsfStreamOptions m_options;
    StreamFault m_fault;
    int m_packetSize = 0;
    std::unique_ptr<Impl> m_impl;
    uint64_t m_pictures = 0;
    uint64_t m_audioObjects = 0;
    bool m_audioKeySent = false;
    bool m_keyRequested = false;
    bool m_lastKey = false;
    std::array<uint8_t, 4> m_zoneLevels{};
    std::optional<ZoneConfig> m_measuredZones;
    StreamStop m_stop, m_headerStop;
    std::unique_ptr<StreamFuzzer> m_fuzz;
};

// The header and the packets of the first `pictures` pictures and the audio sent among them,
// ordered as the endpoint sends them; cut where a close, stall or short-packet fault stops it.
std::string RecordAsfStream(const AsfStreamOptions& options, int pictures, StreamFault fault = {});

// GET "img/video.asf" with "Speed=N" (1 to 30, else 30) and the simulator's "size=WxH". Every
// Camera registers it; calling it again is harmless.
void AddAsfEndpoint(Camera& camera);

} // namespace camsim
