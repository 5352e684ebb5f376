#pragma once
// The simulated camera's Motion-JPEG stream ("img/mjpeg.cgi"): packets of a 48-byte little-endian
// header and a payload, back to back. Pictures are JPEG files of a moving synthetic scene split
// over packets; G.726 audio of a synthetic sweep travels in packets of its own, interleaved.
//
// MJpegStreamSource makes the bytes without networking or sleeping, so tests and benchmarks can
// record a stream in memory; AddMJpegEndpoint paces the same bytes by real time over HTTP.

#include "camsim/sound.h"
#include "camsim/stream_fuzz.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace camsim {

class Camera;

inline constexpr size_t kMJpegHeaderSize = 48;
inline constexpr uint8_t kMJpegVideo = 1;
inline constexpr uint8_t kMJpegAudio = 2;

// Audio packets carry this many samples (120 ms at 8 kHz) whatever the code size, unless the
// payload limit is smaller. Their header's frame size is a quarter of it: the receiving player
// sizes each half of its sound buffer as 8 × frame size bytes of 16-bit PCM, that is 4 × frame
// size samples, so one packet fills one half exactly and playback keeps the real rate. For 2-bit
// codes that is the payload length; for wider codes the payload is longer than the frame size.
inline constexpr int kAudioSamplesPerPacket = 960;

struct MJpegStreamOptions
{
    int width = 320, height = 240;
    int fps = 30;
    size_t maxPayload = 1400;
    int audioCodeSize = 4; // G.726 bits per sample, 2 to 5; 0 = no audio
    int quality = 75;
    std::string text = "camsim"; // the header's 20 text bytes, cut or zero-padded
};

// What a faulty stream gets wrong, once, after `afterPictures` good pictures. Each stream acts
// on its own defects and ignores the others; close and stall serve both.
enum class StreamDefect
{
    None,
    Close,      // the connection drops in the middle of a picture's first packet
    Stall,      // nothing more is sent from the middle of that packet until the fault is lifted
    BadTag,     // the picture's first header has the tag "MJPX"
    BadType,    // ... type 3
    BadVersion, // ... version 2
    BadOffset,  // the picture's second packet (its first when it has one) is 1 byte off
    // Every header of the picture claims more bytes than its packets carry, so the picture never
    // completes and the next picture's offset 0 does not match what was assembled.
    BigFrame,
    // The ASF stream's ("img/video.asf", asf_stream.h tells what each does).
    AudioKey,
    OutsideObject,
    FillOverflow,
    ShortPacket,
    BigHeader,
    BigPacket,
    // Both streams: seeded corruption of every part from the start (stream_fuzz.h).
    Fuzz,
};

struct StreamFault
{
    StreamDefect defect = StreamDefect::None;
    int afterPictures = 2;
    uint64_t seed = 0; // the fuzz defect's
    // The sound goes out this much later than the pictures taken with it, its time stamps true,
    // as from a camera whose sound path is slower than its pictures'.
    int audioDelayMs = 0;
};

// "close", "stall", "bad-tag", "bad-type", "bad-version", "bad-offset", "big-frame", the
// ASF stream's "audio-key", "outside-object", "fill-overflow", "short-packet", "big-header",
// "big-packet", and "fuzz".
bool ParseStreamDefect(std::string_view name, StreamDefect& defect);
// One of the sizes the camera offers: 160x120, 160x128, 320x240, 640x480, 704x480.
bool ParseMJpegSize(std::string_view text, int& width, int& height);

class MJpegStreamSource
{
public:
    // Throws std::invalid_argument for options it cannot produce.
    explicit MJpegStreamSource(const MJpegStreamOptions& options, StreamFault fault = {});
    ~MJpegStreamSource();
    MJpegStreamSource(const MJpegStreamSource&) = delete;
    MJpegStreamSource& operator=(const MJpegStreamSource&) = delete;

    // Appends the next picture's packets and, after its first packet, the audio packets whose
    // time stamp has come by the picture's time stamp.
    // Where the virtual camera looks (Scene::SetAim).
    void SetAim(int x, int y);
    void Next(std::string& out);
    // Appends the next audio packet alone; nothing when the stream has no audio.
    void NextAudio(std::string& out);

    uint32_t NextTimeMs() const;      // time stamp of the next picture
    uint32_t NextAudioTimeMs() const; // of the next audio packet; UINT32_MAX without audio
    // When it goes out: its time, or later by the fault's audio delay.
    uint32_t NextAudioDueMs() const;
    // True when the next audio packet is due well before the next picture, as at low picture
    // rates: then it goes alone, so the sound keeps its real rate instead of coming in bursts.
    bool AudioGoesAlone() const;
    uint64_t Pictures() const { return m_pictures; }

    // Where and how the bytes that the last Next or NextAudio appended stop (close and stall
    // faults, fuzzing); `at` is npos when they go out whole.
    const StreamStop& Stop() const { return m_stop; }
    size_t StopAt() const { return m_stop.at; }

private:
    struct Impl;
    void AppendAudioPacket(std::string& out);

    MJpegStreamOptions m_options;
    StreamFault m_fault;
    std::unique_ptr<Impl> m_impl;
    uint64_t m_pictures = 0;
    uint64_t m_audioPackets = 0;
    int m_samplesPerPacket = 0;
    StreamStop m_stop;
    std::unique_ptr<StreamFuzzer> m_fuzz;
    std::string m_picture; // the damaged copy of the picture being sent
};

// The first `pictures` pictures and the audio sent among them, ordered as the endpoint sends
// them; cut where a close or stall fault stops the stream.
std::string RecordMJpegStream(const MJpegStreamOptions& options, int pictures,
                              StreamFault fault = {});

// GET "img/mjpeg.cgi" with "Speed=N" (1 to 30, else 30) and the simulator's "size=WxH". Every
// Camera registers it; calling it again is harmless.
void AddMJpegEndpoint(Camera& camera);

} // namespace camsim
