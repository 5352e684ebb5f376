// BMP reading and writing for the image holder.

#include "codec/image_file.h"
#include "codec/image_holder.h"
#include "codec/image_le.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kOs2HeaderSize = 64;

enum : uint32_t
{
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitfields = 3,
    kBiJpeg = 4,
    kBiPng = 5,
    kBiAlphaBitfields = 6,
};

struct BmpInfo
{
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;
    uint32_t planes = 0;
    uint32_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
};

uint64_t RowBytes(uint64_t bitCount, uint64_t width)
{
    return (bitCount * width + 31) / 32 * 4;
}

long DpiFromPelsPerMeter(int32_t ppm)
{
    return static_cast<long>(std::floor(ppm * 0.0254 + 0.5));
}

int32_t PelsPerMeterFromDpi(long dpi)
{
    double ppm = std::floor(dpi / 0.0254 + 0.5);
    if (ppm > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (ppm < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(ppm);
}

// One channel of a 16- or 32-bit pixel, scaled to 8 bits.
struct Channel
{
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m)
    {
        if (m != 0) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    uint8_t operator()(uint32_t pixel) const
    {
        if (max == 0)
            return 0;
        uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

} // namespace

bool CImageHolder::DecodeBmp(CImageFile& file)
{
    const int64_t start = file.Tell();
    const int64_t end = file.Size();
    // Bytes from the start of the decode to the end of the stream, when that can be told.
    const uint64_t available =
        start >= 0 && end >= start ? uint64_t(end - start) : std::numeric_limits<uint64_t>::max();

    uint8_t fileHeader[kFileHeaderSize];
    if (file.Read(fileHeader, 1, kFileHeaderSize) != kFileHeaderSize)
        return Fail("Not a BMP");
    uint64_t pixelOffset = 0;
    uint64_t headerStart = kFileHeaderSize;
    if (fileHeader[0] == 'B' && fileHeader[1] == 'M') {
        pixelOffset = GetLe32(fileHeader + 10);
    } else {
        // A bare DIB: the snapshot path hands the holder its bitmap in this form.
        if (!file.Seek(start, SEEK_SET))
            return Fail("Not a BMP");
        headerStart = 0;
    }

    uint8_t raw[40];
    BmpInfo info;
    if (file.Read(raw, 1, 4) != 4)
        return Fail("Error reading BMP info");
    info.headerSize = GetLe32(raw);
    if (info.headerSize > available || headerStart + info.headerSize > available)
        return Fail("Error reading BMP info");
    if (info.headerSize == kCoreHeaderSize) {
        if (file.Read(raw + 4, 1, 8) != 8)
            return Fail("Error reading BMP info");
        info.width = GetLe16(raw + 4);
        info.height = GetLe16(raw + 6);
        info.planes = GetLe16(raw + 8);
        info.bitCount = GetLe16(raw + 10);
    } else if (info.headerSize >= 40) {
        if (file.Read(raw + 4, 1, 36) != 36)
            return Fail("Error reading BMP info");
        info.width = static_cast<int32_t>(GetLe32(raw + 4));
        info.height = static_cast<int32_t>(GetLe32(raw + 8));
        info.planes = GetLe16(raw + 12);
        info.bitCount = GetLe16(raw + 14);
        info.compression = GetLe32(raw + 16);
        info.sizeImage = GetLe32(raw + 20);
        info.xPelsPerMeter = static_cast<int32_t>(GetLe32(raw + 24));
        info.yPelsPerMeter = static_cast<int32_t>(GetLe32(raw + 28));
        info.colorsUsed = GetLe32(raw + 32);
        if (info.headerSize != 40 && info.headerSize != kOs2HeaderSize) {
            // Later header versions are taken only in their plain form.
            uint64_t rows = RowBytes(info.bitCount, uint64_t(info.width < 0 ? 0 : info.width));
            if (info.planes != 1 || info.compression != kBiRgb || info.height <= 0 ||
                info.sizeImage != rows * uint64_t(info.height))
                return Fail("Error reading BMP info");
        }
        if (info.headerSize > 40 && !file.Seek(info.headerSize - 40, SEEK_CUR))
            return Fail("Error reading BMP info");
    } else {
        return Fail("Error reading BMP info");
    }

    const bool topDown = info.height < 0;
    const uint64_t width = info.width > 0 ? uint64_t(info.width) : 0;
    const uint64_t height = uint64_t(topDown ? -info.height : info.height);
    const uint32_t bits = info.bitCount;
    if (width == 0 || height == 0 || width > uint32_t(std::numeric_limits<int32_t>::max()) ||
        height > uint32_t(std::numeric_limits<int32_t>::max()))
        return Fail("Error reading BMP info");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Fail("Error reading BMP info");

    switch (info.compression) {
    case kBiRgb:
        break;
    case kBiBitfields:
        if ((bits != 16 && bits != 32) || info.headerSize != 40)
            return Fail("compression type not supported");
        break;
    case kBiRle8:
    case kBiRle4:
    case kBiJpeg:
    case kBiPng:
    case kBiAlphaBitfields:
        return Fail("compression type not supported");
    default:
        return Fail("unknown compression");
    }

    // Default masks of the uncompressed 16- and 32-bit forms: 5-5-5 and 8-8-8.
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    uint64_t position = headerStart + info.headerSize;
    if (info.compression == kBiBitfields) {
        uint8_t m[12];
        if (file.Read(m, 1, sizeof m) != sizeof m)
            return Fail("Error reading BMP info");
        for (int i = 0; i < 3; ++i)
            masks[i] = GetLe32(m + 4 * i);
        position += sizeof m;
    }

    const uint32_t entrySize = info.headerSize == kCoreHeaderSize ? 3 : 4;
    const uint32_t maxColors = bits <= 8 ? 1u << bits : 0;
    uint64_t colors = info.colorsUsed;
    if (bits <= 8) {
        if (colors == 0)
            colors = maxColors;
        if (colors > maxColors)
            return Fail("Error reading BMP info");
    }
    const uint64_t paletteBytes = colors * entrySize;
    if (paletteBytes > available - position)
        return Fail("Error reading BMP info");

    const uint64_t srcRow = RowBytes(bits, width);
    const uint64_t pixelStart = pixelOffset != 0 ? pixelOffset : position + paletteBytes;
    // The pixel rows must be in the stream before anything is allocated for them.
    if (pixelStart < headerStart + info.headerSize || pixelStart > available ||
        srcRow > (available - pixelStart) / height)
        return Fail("BMP pixel data is cut short");

    std::vector<uint8_t> palette;
    if (bits <= 8) {
        palette.resize(static_cast<size_t>(paletteBytes));
        if (file.Read(palette.data(), 1, palette.size()) != palette.size())
            return Fail("Error reading BMP info");
    }

    switch (
        Allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height), bits, FormatBmp)) {
    case CreateResult::Ok:
        break;
    case CreateResult::TooLarge:
        return Fail("IMAGE_MAX_MEMORY exceeded");
    case CreateResult::BeyondLimit:
        return Fail(kBeyondLimit);
    default:
        return Fail("Can't allocate memory");
    }

    // Above 8 bits the colour count only told how much to skip; `palette` is empty.
    uint8_t* entry = m_dib + kImageInfoHeaderSize;
    for (uint64_t i = 0; i < palette.size() / entrySize; ++i, entry += 4) {
        std::memcpy(entry, &palette[i * entrySize], 3);
        entry[3] = 0;
    }

    if (!file.Seek(start + static_cast<int64_t>(pixelStart), SEEK_SET))
        return Fail("BMP pixel data is cut short");
    const bool direct = bits != 16 && bits != 32; // file rows have the holder's layout
    std::vector<uint8_t> row;
    if (!direct)
        row.resize(static_cast<size_t>(srcRow));
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    uint8_t* bitsBase = GetBits();
    for (uint64_t y = 0; y < height; ++y) {
        if (GetEscape() != 0)
            return Fail("Cancelled");
        uint8_t* out = bitsBase + (topDown ? height - 1 - y : y) * m_effWidth;
        uint8_t* in = direct ? out : row.data();
        if (file.Read(in, 1, static_cast<size_t>(srcRow)) != srcRow)
            return Fail("BMP pixel data is cut short");
        if (direct)
            continue;
        for (uint64_t x = 0; x < width; ++x, out += 3) {
            uint32_t pixel = bits == 16 ? GetLe16(in + 2 * x) : GetLe32(in + 4 * x);
            out[0] = blue(pixel);
            out[1] = green(pixel);
            out[2] = red(pixel);
        }
    }

    m_xDpi = DpiFromPelsPerMeter(info.xPelsPerMeter);
    m_yDpi = DpiFromPelsPerMeter(info.yPelsPerMeter);
    return true;
}

bool CImageHolder::EncodeBmp(CImageFile& file)
{
    const uint32_t offset = kFileHeaderSize + kImageInfoHeaderSize + 4 * m_numColors;
    const uint64_t blockSize =
        kImageInfoHeaderSize + 4 * m_numColors + uint64_t(m_effWidth) * m_height;
    uint8_t header[kFileHeaderSize + kImageInfoHeaderSize];
    header[0] = 'B';
    header[1] = 'M';
    PutLe32(header + 2, static_cast<uint32_t>(kFileHeaderSize + blockSize));
    PutLe32(header + 6, 0);
    PutLe32(header + 10, offset);
    std::memcpy(header + kFileHeaderSize, m_dib, kImageInfoHeaderSize);
    PutLe32(header + kFileHeaderSize + 24, static_cast<uint32_t>(PelsPerMeterFromDpi(m_xDpi)));
    PutLe32(header + kFileHeaderSize + 28, static_cast<uint32_t>(PelsPerMeterFromDpi(m_yDpi)));

    const size_t rest = static_cast<size_t>(blockSize - kImageInfoHeaderSize);
    if (file.Write(header, 1, sizeof header) != sizeof header ||
        file.Write(m_dib + kImageInfoHeaderSize, 1, rest) != rest)
        return Fail("Can't write BMP file");
    return true;
}
