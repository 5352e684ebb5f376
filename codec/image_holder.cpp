#include "codec/image_holder.h"

#include "codec/image_file.h"
#include "codec/image_le.h"

#include <cstdlib>
#include <cstring>
#include <limits>

CImageHolder::CImageHolder(ImageFormat format) : m_type(format) {}

void CImageHolder::SetSizeLimit(uint32_t maxWidth, uint32_t maxHeight)
{
    m_maxWidth = maxWidth;
    m_maxHeight = maxHeight;
}

CImageHolder::~CImageHolder()
{
    FreeDib();
}

bool CImageHolder::Fail(const char* message)
{
    std::strncpy(m_lastError, message, sizeof m_lastError - 1);
    m_lastError[sizeof m_lastError - 1] = '\0';
    return false;
}

void CImageHolder::FreeDib()
{
    std::free(m_dib);
    m_dib = nullptr;
    m_width = m_height = m_bpp = m_effWidth = m_numColors = 0;
}

CImageHolder::CreateResult CImageHolder::Allocate(uint32_t width, uint32_t height, uint32_t bpp,
                                                  ImageFormat format)
{
    FreeDib();
    uint32_t mapped = bpp < 2 ? 1 : bpp < 5 ? 4 : bpp < 9 ? 8 : 24;
    if (width == 0 || height == 0)
        return CreateResult::BadSize;
    if ((m_maxWidth != 0 && width > m_maxWidth) || (m_maxHeight != 0 && height > m_maxHeight))
        return CreateResult::BeyondLimit;

    // width x height always fits 64 bits; the product with bpp may not, hence the first test.
    uint64_t pixels = uint64_t(width) * height;
    if (pixels > std::numeric_limits<uint64_t>::max() / 32 ||
        pixels * mapped / 256 > kImageMaxMemory)
        return CreateResult::TooLarge;
    uint64_t effWidth = (uint64_t(width) * mapped + 31) / 32 * 4;
    uint64_t imageSize = effWidth * height;
    uint32_t colors = mapped <= 8 ? 1u << mapped : 0;
    uint64_t total = kImageInfoHeaderSize + 4 * colors + imageSize;
    // The header stores width and height as signed and the image size in 32 bits; a block they
    // can't describe would be read wrongly by everything downstream.
    if (width > uint32_t(std::numeric_limits<int32_t>::max()) ||
        height > uint32_t(std::numeric_limits<int32_t>::max()) ||
        total > std::numeric_limits<uint32_t>::max())
        return CreateResult::TooLarge;

    auto* dib = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(total), 1));
    if (dib == nullptr)
        return CreateResult::NoMemory;
    PutLe32(dib + 0, kImageInfoHeaderSize);
    PutLe32(dib + 4, width);
    PutLe32(dib + 8, height);
    PutLe16(dib + 12, 1);
    PutLe16(dib + 14, static_cast<uint16_t>(mapped));
    PutLe32(dib + 16, 0);
    PutLe32(dib + 20, static_cast<uint32_t>(imageSize));

    m_dib = dib;
    m_width = width;
    m_height = height;
    m_bpp = mapped;
    m_effWidth = static_cast<uint32_t>(effWidth);
    m_numColors = colors;
    m_type = format;
    return CreateResult::Ok;
}

uint8_t* CImageHolder::Create(uint32_t width, uint32_t height, uint32_t bpp, ImageFormat format)
{
    switch (Allocate(width, height, bpp, format)) {
    case CreateResult::Ok:
        return m_dib;
    case CreateResult::BadSize:
        Fail("CImageHolder::Create needs a non-zero width and height");
        break;
    case CreateResult::BeyondLimit:
        Fail(kBeyondLimit);
        break;
    case CreateResult::TooLarge:
        Fail("IMAGE_MAX_MEMORY exceeded");
        break;
    case CreateResult::NoMemory:
        Fail("CImageHolder::Create can't allocate memory");
        break;
    }
    return nullptr;
}

uint8_t* CImageHolder::GetBits() const
{
    return m_dib != nullptr ? m_dib + kImageInfoHeaderSize + 4 * m_numColors : nullptr;
}

bool CImageHolder::HasGreyPalette() const
{
    if (m_dib == nullptr || m_bpp != 8)
        return false;
    const uint8_t* entry = m_dib + kImageInfoHeaderSize;
    for (unsigned i = 0; i < m_numColors; ++i, entry += 4) {
        if (entry[0] != i || entry[1] != i || entry[2] != i)
            return false;
    }
    return true;
}

bool CImageHolder::Decode(const uint8_t* buffer, uint32_t size, ImageFormat format)
{
    CImageMemFile file(buffer, size);
    return Decode(file, format);
}

bool CImageHolder::Decode(CImageFile& file, ImageFormat format)
{
    FreeDib();
    bool ok = false;
    switch (format) {
    case FormatBmp:
        ok = DecodeBmp(file);
        break;
    case FormatJpeg:
        ok = DecodeJpeg(file);
        break;
    case FormatUnknown: {
        int64_t start = file.Tell();
        ok = DecodeBmp(file);
        if (!ok) {
            // The BMP attempt's complaint is not this decode's outcome.
            m_lastError[0] = '\0';
            format = FormatJpeg;
            ok = file.Seek(start, SEEK_SET) && DecodeJpeg(file);
        } else {
            format = FormatBmp;
        }
        break;
    }
    default:
        return Fail("Decode: Unknown or wrong format");
    }
    if (!ok) {
        FreeDib();
        return false;
    }
    m_type = format;
    return true;
}

bool CImageHolder::Encode(CImageFile& file, ImageFormat format)
{
    if (format != FormatBmp && format != FormatJpeg)
        return Fail("Encode: Unknown format");
    if (m_dib == nullptr)
        return Fail("Encode: no image");
    return format == FormatBmp ? EncodeBmp(file) : EncodeJpeg(file);
}

bool CImageHolder::SaveToFile(const char* path, ImageFormat format)
{
    CImageIOFile file;
    if (!file.Open(path, "wb"))
        return Fail("SaveToFile: can't open the file");
    bool ok = Encode(file, format);
    if (!file.Close() && ok)
        return Fail("SaveToFile: can't write the file");
    return ok;
}
