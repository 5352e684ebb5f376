#include "codec/jpeg_exif.h"

#include "codec/image_file.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Real files carry a dozen or two; far more means the walk is lost in the entropy data.
constexpr int kMaxSections = 100;
constexpr int kMaxPadding = 16;
// IFD0 -> Exif IFD -> Interoperability IFD, plus the thumbnail IFD1: deeper is a loop.
constexpr int kMaxDepth = 4;
// Real files hold a few hundred entries in four or five directories. Directories may overlap, so
// visiting each only once does not bound the entries on its own.
constexpr unsigned kMaxEntries = 2048;
constexpr int kMaxDirectories = 16;

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagXResolution = 0x011A;
constexpr uint16_t kTagYResolution = 0x011B;
constexpr uint16_t kTagResolutionUnit = 0x0128;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagInteropIfd = 0xA005;

// Bytes per component of TIFF field types 1..12.
constexpr unsigned kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

class TiffReader
{
public:
    TiffReader(const uint8_t* data, size_t size, bool bigEndian)
        : m_data(data), m_size(size), m_big(bigEndian)
    {
    }

    size_t Size() const { return m_size; }
    // Callers have checked that offset .. offset + 1 (or + 3) lies inside.
    uint16_t U16(size_t offset) const
    {
        const uint8_t* p = m_data + offset;
        return m_big ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
    }
    uint32_t U32(size_t offset) const
    {
        const uint8_t* p = m_data + offset;
        return m_big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    uint64_t U64(size_t offset) const
    {
        uint64_t a = U32(offset), b = U32(offset + 4);
        return m_big ? a << 32 | b : b << 32 | a;
    }

    // First component of a field as a number; the caller has checked it is inside.
    double Number(size_t offset, unsigned format) const
    {
        switch (format) {
        case 1:
        case 7:
            return m_data[offset];
        case 6:
            return static_cast<int8_t>(m_data[offset]);
        case 3:
            return U16(offset);
        case 8:
            return static_cast<int16_t>(U16(offset));
        case 4:
            return U32(offset);
        case 9:
            return static_cast<int32_t>(U32(offset));
        case 5: {
            uint32_t den = U32(offset + 4);
            return den != 0 ? double(U32(offset)) / den : 0.0;
        }
        case 10: {
            auto den = static_cast<int32_t>(U32(offset + 4));
            return den != 0 ? double(static_cast<int32_t>(U32(offset))) / den : 0.0;
        }
        case 11:
            return std::bit_cast<float>(U32(offset));
        case 12:
            return std::bit_cast<double>(U64(offset));
        default:
            return 0.0;
        }
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    bool m_big;
};

// Units per inch of a ResolutionUnit value.
double UnitScale(double unit)
{
    if (!(unit >= 1 && unit <= 5))
        return 0.0;
    switch (static_cast<int>(unit)) {
    case 1: // no absolute unit: read as inches, as everyone does
    case 2:
        return 1.0;
    case 3:
        return 2.54;
    case 4:
        return 25.4;
    case 5:
        return 25400.0;
    default:
        return 0.0;
    }
}

// One walk over the directories. Each is entered at most once: links that lead to a directory
// again would otherwise multiply the work with every level.
struct DirectoryWalk
{
    const TiffReader& tiff;
    ExifResolution& out;
    size_t visited[kMaxDirectories] = {};
    int visitedCount = 0;
    unsigned entries = 0;

    bool Enter(size_t start)
    {
        for (int i = 0; i < visitedCount; ++i)
            if (visited[i] == start)
                return false;
        if (visitedCount == kMaxDirectories)
            return false;
        visited[visitedCount++] = start;
        return true;
    }
};

// `primary` marks IFD0, the main picture's directory; the others are only checked for sound
// structure.
const char* ProcessDirectory(DirectoryWalk& walk, size_t start, int depth, bool primary)
{
    const TiffReader& tiff = walk.tiff;
    ExifResolution& out = walk.out;
    if (depth > kMaxDepth || !walk.Enter(start))
        return "Illegal subdirectory link";
    if (start > tiff.Size() || tiff.Size() - start < 2)
        return "Illegally sized directory";
    size_t entries = tiff.U16(start);
    if (tiff.Size() - start - 2 < entries * 12 || entries > kMaxEntries - walk.entries)
        return "Illegally sized directory";
    walk.entries += static_cast<unsigned>(entries);

    for (size_t i = 0; i < entries; ++i) {
        size_t entry = start + 2 + i * 12;
        uint16_t tag = tiff.U16(entry);
        unsigned format = tiff.U16(entry + 2);
        uint32_t components = tiff.U32(entry + 4);
        if (format < 1 || format > 12)
            return "Illegal format code in EXIF dir";
        uint64_t bytes = uint64_t(components) * kFormatSize[format];
        size_t value = entry + 8;
        if (bytes > 4) {
            value = tiff.U32(entry + 8);
            if (value > tiff.Size() || bytes > tiff.Size() - value)
                return "Illegal pointer offset value in EXIF.";
        }
        if (components == 0)
            continue;

        switch (tag) {
        case kTagXResolution:
            if (primary)
                out.x = tiff.Number(value, format);
            break;
        case kTagYResolution:
            if (primary)
                out.y = tiff.Number(value, format);
            break;
        case kTagResolutionUnit:
            if (primary)
                out.unitScale = UnitScale(tiff.Number(value, format));
            break;
        case kTagOrientation:
            if (primary) {
                double v = tiff.Number(value, format);
                if (!(v >= 1 && v <= 8))
                    return "Undefined rotation value";
                out.orientation = static_cast<int>(v);
            }
            break;
        case kTagExifIfd:
        case kTagInteropIfd: {
            if (bytes < 4)
                return "Illegal subdirectory link";
            size_t sub = tiff.U32(value);
            if (sub >= tiff.Size())
                return "Illegal subdirectory link";
            if (const char* error = ProcessDirectory(walk, sub, depth + 1, false))
                return error;
            break;
        }
        default:
            break;
        }
    }

    // The directory after this one (IFD1, the thumbnail's).
    size_t link = start + 2 + entries * 12;
    if (tiff.Size() - link >= 4) {
        size_t next = tiff.U32(link);
        if (next != 0) {
            if (next >= tiff.Size())
                return "Illegal subdirectory link";
            if (const char* error = ProcessDirectory(walk, next, depth + 1, false))
                return error;
        }
    }
    return nullptr;
}

} // namespace

const char* ParseExifTiff(const uint8_t* data, size_t size, ExifResolution& out)
{
    out.entriesRead = 0;
    bool big;
    if (size >= 2 && data[0] == 'I' && data[1] == 'I')
        big = false;
    else if (size >= 2 && data[0] == 'M' && data[1] == 'M')
        big = true;
    else
        return "Invalid Exif alignment marker.";
    TiffReader tiff(data, size, big);
    if (size < 8 || tiff.U16(2) != 0x2A)
        return "Invalid Exif start (1)";
    size_t first = tiff.U32(4);
    if (first < 8 || first >= size)
        return "Invalid Exif start (1)";
    DirectoryWalk walk{tiff, out};
    const char* error = ProcessDirectory(walk, first, 0, true);
    out.entriesRead = walk.entries;
    return error;
}

const char* ScanJpegExif(CImageFile& file, ExifResolution& out)
{
    uint8_t soi[2];
    if (file.Read(soi, 1, 2) != 2)
        return "Premature end of file?";
    if (soi[0] != 0xFF || soi[1] != 0xD8)
        return "invalid marker";

    for (int sections = 0;; ++sections) {
        if (sections >= kMaxSections)
            return "Too many sections in jpg file";
        long c = file.GetC();
        if (c != 0xFF)
            return c == EOF ? "Premature end of file?" : "invalid marker";
        long marker;
        int padding = 0;
        while ((marker = file.GetC()) == 0xFF) {
            if (++padding > kMaxPadding)
                return "too many padding bytes!";
        }
        if (marker == EOF)
            return "Premature end of file?";
        if (marker == 0xDA) // start of scan: no Exif section before the picture
            return nullptr;
        if (marker == 0xD9)
            return "No image in jpeg!\n";
        if (marker == 0x00 || marker == 0xD8)
            return "invalid marker";
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length field

        uint8_t len[2];
        if (file.Read(len, 1, 2) != 2)
            return "Premature end of file?";
        size_t length = size_t(len[0]) << 8 | len[1];
        if (length < 2)
            return "invalid marker";
        size_t body = length - 2;

        if (marker == 0xE1 && body >= 6) {
            std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[body]);
            if (!data)
                return "Could not allocate memory";
            if (file.Read(data.get(), 1, body) != body)
                return "Premature end of file?";
            if (std::memcmp(data.get(), "Exif", 4) != 0)
                continue; // another kind of APP1, XMP for one
            if (data[4] != 0 || data[5] != 0)
                return "Incorrect Exif header";
            return ParseExifTiff(data.get() + 6, body - 6, out);
        }
        if (!file.Seek(static_cast<int64_t>(body), SEEK_CUR))
            return "Premature end of file?";
    }
}
