#pragma once
// From an MPEG-4 frame of the stream to a 24-bit bottom-up picture: the stream's configuration
// headers in front of the first frame after each open, decoding, and the colour conversion. Both
// controls' painters use it; they differ only by the profile.

#include "codec/color/yuv2rgb.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

struct DECODER;

struct Mpeg4PictureProfile
{
    int decoderProfile;  // DECODER_PROFILE_*
    size_t inputSize;    // one frame, with the configuration in front of the first
    size_t maxPixels;    // what the picture buffer holds
    int maxWidth;        // the largest picture, either way
    int maxHeight;
    bool sharedTables;   // the process-wide conversion tables, else tables of its own
};

// 704 x 480 buffers; a doubled picture fits as long as its area does.
inline constexpr Mpeg4PictureProfile kViewerPictureProfile{0, 704 * 480, 704 * 480, 1408, 960,
                                                           false};
// 307,200-byte input and a 640 x 480 picture, the doubled output included.
inline constexpr Mpeg4PictureProfile kZonePictureProfile{1, 307200, 640 * 480, 640, 480, true};

class CMpeg4PicturePath
{
public:
    enum class Outcome {
        Picture,      // converted into Rgb()
        Skipped,      // did not fit the buffers, or no decoder
        DecodeFailed, // the decoder refused the frame
    };

    explicit CMpeg4PicturePath(const Mpeg4PictureProfile& profile);
    ~CMpeg4PicturePath();
    CMpeg4PicturePath(const CMpeg4PicturePath&) = delete;
    CMpeg4PicturePath& operator=(const CMpeg4PicturePath&) = delete;

    // A new stream: copies its configuration, gets the tables and a fresh decoder. False when
    // either cannot be had; the path is then closed.
    bool Open(const uint8_t* config, size_t configLength);
    void Close();
    bool IsOpen() const { return m_decoder != nullptr; }

    // Decodes one frame and converts the picture. The configuration goes in front of the first
    // frame after Open only, whether or not that frame decodes.
    Outcome Decode(const uint8_t* frame, size_t size);

    // The last converted picture, rows bottom-up, blue-green-red.
    const uint8_t* Rgb() const { return m_rgb.data(); }
    uint8_t* Rgb() { return m_rgb.data(); }
    size_t RgbCapacity() const { return m_rgb.size(); }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Bytes handed to the decoder for the last frame, and for the first after Open.
    size_t LastInputLength() const { return m_lastInput; }
    size_t FirstInputLength() const { return m_firstInput; }
    const Mpeg4PictureProfile& Profile() const { return m_profile; }

private:
    Mpeg4PictureProfile m_profile;
    CYuvConverter m_converter;
    bool m_sharedTables = false; // holds one count of the process-wide tables
    DECODER* m_decoder = nullptr;
    std::vector<uint8_t> m_config;
    bool m_firstFrame = false;
    std::vector<uint8_t> m_input;
    std::vector<uint8_t> m_output;
    std::vector<uint8_t> m_rgb;
    int m_width = 0, m_height = 0;
    size_t m_lastInput = 0, m_firstInput = 0;
};

class CFrameChain;

// What an MPEG-4 painter counts of the frames it takes.
struct Mpeg4PainterCounts
{
    std::atomic<uint64_t> decodeFailures{0}, skipped{0};
    // Bytes handed to the decoder for the last frame, and for the first after a prepare.
    std::atomic<size_t> lastInput{0}, firstInput{0};
};

// One step of a painter's loop: the oldest queued frame through `path`, freed afterwards. True
// when a picture is ready in the path; false when the queue was empty or the frame was refused.
bool DecodeQueuedFrame(CFrameChain& video, CMpeg4PicturePath& path, Mpeg4PainterCounts& counts,
                       uint32_t* timestamp);
