#pragma once
// Still-image holder: one packed device-independent bitmap decoded from BMP or JPEG, and the
// encoders that write it back out.
//
// The block (GetDIB) is laid out as Windows keeps a packed DIB: a 40-byte info header (size 40,
// width, positive height, planes 1, bit count, no compression, image size = effective width x
// height), then 2, 16 or 256 four-byte palette entries (blue, green, red, 0) for 1, 4 or 8 bpp and
// none for 24, then the pixel rows, last picture row first, each GetEffWidth() bytes long (padded
// to 4 bytes). 24-bit pixels are blue, green, red.
//
// A holder is not locked; one thread uses it at a time. The escape flag is the exception: any
// thread may raise it to cancel a decode that is running.

#include <atomic>
#include <cstddef>
#include <cstdint>

class CImageFile;

enum ImageFormat : uint32_t
{
    FormatUnknown = 0,
    FormatBmp = 1,
    FormatJpeg = 2,
};

inline constexpr size_t kImageInfoHeaderSize = 40;
// Create refuses blocks above this many units of width x height x bpp / 256.
inline constexpr uint64_t kImageMaxMemory = 256000000;

class CImageHolder
{
public:
    explicit CImageHolder(ImageFormat format = FormatUnknown);
    ~CImageHolder();
    CImageHolder(const CImageHolder&) = delete;
    CImageHolder& operator=(const CImageHolder&) = delete;

    // Replaces any block with a zeroed one. bpp below 2 becomes 1, below 5 becomes 4, below 9
    // becomes 8, anything else 24. Returns the block, or nullptr (holding nothing) on failure.
    uint8_t* Create(uint32_t width, uint32_t height, uint32_t bpp,
                    ImageFormat format = FormatUnknown);
    void FreeDib();
    // Create and both decoders refuse, before allocating, a picture wider or taller than this; 0
    // leaves that side unlimited, as it is by default.
    void SetSizeLimit(uint32_t maxWidth, uint32_t maxHeight);

    // Decodes a BMP or JPEG held in memory; FormatUnknown tries BMP, then JPEG. On failure the
    // holder is empty and GetLastError says why.
    bool Decode(const uint8_t* buffer, uint32_t size, ImageFormat format);
    // Same, from the file's current position.
    bool Decode(CImageFile& file, ImageFormat format);
    // FormatBmp writes a BMP file, FormatJpeg a JFIF file (24-bit or grey 8-bit pictures only).
    bool Encode(CImageFile& file, ImageFormat format);
    bool SaveToFile(const char* path, ImageFormat format);

    uint8_t* GetDIB() const { return m_dib; }
    // The first pixel row of the block (the bottom picture row); nullptr when empty.
    uint8_t* GetBits() const;
    uint32_t GetWidth() const { return m_width; }
    uint32_t GetHeight() const { return m_height; }
    uint32_t GetEffWidth() const { return m_effWidth; }
    uint32_t GetBpp() const { return m_bpp; }
    uint32_t GetNumColors() const { return m_numColors; }
    ImageFormat GetType() const { return m_type; }
    bool IsValid() const { return m_dib != nullptr; }
    bool IsIndexed() const { return m_numColors != 0; }
    const char* GetLastError() const { return m_lastError; }

    uint8_t GetJpegQuality() const { return m_jpegQuality; }
    void SetJpegQuality(uint8_t quality) { m_jpegQuality = quality; }
    long GetXDPI() const { return m_xDpi; }
    long GetYDPI() const { return m_yDpi; }
    long GetEscape() const { return m_escape.load(std::memory_order_relaxed); }
    void SetEscape(long escape) { m_escape.store(escape, std::memory_order_relaxed); }
    long GetTransIndex() const { return m_transIndex; }
    void SetTransIndex(long index) { m_transIndex = index; }
    bool IsTransparent() const { return m_transIndex >= 0; }

private:
    static constexpr const char* kBeyondLimit = "Picture larger than the holder's limit";
    enum class CreateResult
    {
        Ok,
        BadSize,
        BeyondLimit,
        TooLarge,
        NoMemory,
    };
    CreateResult Allocate(uint32_t width, uint32_t height, uint32_t bpp, ImageFormat format);

    bool DecodeBmp(CImageFile& file);
    bool DecodeJpeg(CImageFile& file);
    bool EncodeBmp(CImageFile& file);
    bool EncodeJpeg(CImageFile& file);
    bool HasGreyPalette() const;
    bool Fail(const char* message);

    uint8_t* m_dib = nullptr;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_bpp = 0;
    uint32_t m_effWidth = 0;
    uint32_t m_numColors = 0;
    ImageFormat m_type;
    uint8_t m_jpegQuality = 90;
    long m_xDpi = 96;
    long m_yDpi = 96;
    long m_transIndex = -1;
    uint32_t m_maxWidth = 0;
    uint32_t m_maxHeight = 0;
    std::atomic<long> m_escape{0};
    char m_lastError[256] = {};

    friend struct JpegDecodeContext;
};
