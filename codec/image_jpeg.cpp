// JPEG reading and writing for the image holder, over the libjpeg bridge.

#include "codec/image_file.h"
#include "codec/image_holder.h"
#include "codec/jpeg_bridge.h"
#include "codec/jpeg_exif.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A real JPEG spends at least one bit on every block of its DC scan, and a block of the least
// sampled component covers at most 32 x 32 pixels, so a header promising more than 8 x 1024
// pixels per byte of input is not a picture. It is refused before anything is allocated.
constexpr uint64_t kMaxPixelsPerByte = 8 * 1024;
// libjpeg's own whole-picture buffers (progressive files) may not grow beyond this.
constexpr long kMaxDecoderMemory = 1L << 30;

long ClampDpi(double dpi)
{
    if (!(dpi >= 0))
        return 0;
    if (dpi >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<long>(dpi);
}

} // namespace

// State of one decode, handed through the bridge as its context. It reaches into the holder, so
// it is the holder's friend.
struct JpegDecodeContext
{
    CImageHolder* holder;
    CImageFile* file;
    CImageMemFile* mem; // in-place input when the file is memory
    bool memHandedOut = false;
    uint64_t available; // bytes from the start of the decode, or the maximum when unknown
    ExifResolution exif;
    long xDpi = 0;
    long yDpi = 0;
    unsigned char chunk[4096];

    static size_t Fill(void* ctx, const unsigned char** data) noexcept
    {
        auto* c = static_cast<JpegDecodeContext*>(ctx);
        if (c->mem != nullptr) {
            if (c->memHandedOut)
                return 0;
            size_t size;
            *data = c->mem->Peek(&size);
            c->mem->Seek(static_cast<int64_t>(size), SEEK_CUR);
            c->memHandedOut = true;
            return size;
        }
        *data = c->chunk;
        return c->file->Read(c->chunk, 1, sizeof c->chunk);
    }

    static unsigned char* Begin(void* ctx, const codec_jpeg_header* header,
                                ptrdiff_t* stride) noexcept
    {
        auto* c = static_cast<JpegDecodeContext*>(ctx);
        CImageHolder& h = *c->holder;
        if (header->components != 1 && header->components != 3 && header->components != 4) {
            h.Fail("JPEG has an unsupported number of components");
            return nullptr;
        }
        uint64_t pixels = uint64_t(header->width) * uint64_t(header->height);
        if (c->available < (pixels + kMaxPixelsPerByte - 1) / kMaxPixelsPerByte) {
            h.Fail("JPEG picture size doesn't fit its data");
            return nullptr;
        }
        if (h.Create(static_cast<uint32_t>(header->width), static_cast<uint32_t>(header->height),
                     8 * static_cast<uint32_t>(header->components), FormatJpeg) == nullptr)
            return nullptr;

        if (c->exif.Complete()) {
            c->xDpi = ClampDpi(c->exif.x * c->exif.unitScale);
            c->yDpi = ClampDpi(c->exif.y * c->exif.unitScale);
        } else if (header->density_unit == 2) {
            c->xDpi = static_cast<long>(std::floor(header->x_density * 2.54 + 0.5));
            c->yDpi = static_cast<long>(std::floor(header->y_density * 2.54 + 0.5));
        } else {
            c->xDpi = header->x_density;
            c->yDpi = header->y_density;
        }

        if (header->components == 1) {
            uint8_t* entry = h.m_dib + kImageInfoHeaderSize;
            for (unsigned i = 0; i < 256; ++i, entry += 4) {
                entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
                entry[3] = 0;
            }
        }
        // Top picture row is the last row of the block.
        *stride = -static_cast<ptrdiff_t>(h.m_effWidth);
        return h.GetBits() + static_cast<size_t>(h.m_height - 1) * h.m_effWidth;
    }

    static int Cancelled(void* ctx) noexcept
    {
        auto* c = static_cast<JpegDecodeContext*>(ctx);
        if (c->holder->GetEscape() == 0)
            return 0;
        c->holder->Fail("Cancelled");
        return 1;
    }
};

bool CImageHolder::DecodeJpeg(CImageFile& file)
{
    static_assert(sizeof m_lastError >= CODEC_JPEG_MESSAGE_SIZE);
    const int64_t start = file.Tell();
    const int64_t end = file.Size();

    JpegDecodeContext ctx;
    ctx.holder = this;
    ctx.file = &file;
    ctx.mem = dynamic_cast<CImageMemFile*>(&file);
    ctx.available =
        start >= 0 && end >= start ? uint64_t(end - start) : std::numeric_limits<uint64_t>::max();

    // A broken Exif section only costs its resolution; the message stays for the curious.
    if (const char* error = ScanJpegExif(file, ctx.exif)) {
        Fail(error);
        ctx.exif = ExifResolution{};
    }
    if (!file.Seek(start, SEEK_SET))
        return Fail("Can't seek back to the start of the JPEG");

    codec_jpeg_decode_job job{};
    job.fill = &JpegDecodeContext::Fill;
    job.begin = &JpegDecodeContext::Begin;
    job.cancelled = &JpegDecodeContext::Cancelled;
    job.ctx = &ctx;
    job.max_memory = kMaxDecoderMemory;
    job.message = m_lastError;
    if (codec_jpeg_decode(&job) != 0)
        return false;
    m_xDpi = ctx.xDpi;
    m_yDpi = ctx.yDpi;
    return true;
}

namespace {

size_t WriteOutput(void* ctx, const unsigned char* data, size_t size) noexcept
{
    return static_cast<CImageFile*>(ctx)->Write(data, 1, size);
}

unsigned DensityFromDpi(long dpi)
{
    return dpi < 0 ? 0u : dpi > 65535 ? 65535u : static_cast<unsigned>(dpi);
}

} // namespace

bool CImageHolder::EncodeJpeg(CImageFile& file)
{
    if (m_bpp != 24 && !HasGreyPalette())
        return Fail("JPEG can save only RGB or GreyScale images");

    codec_jpeg_encode_job job{};
    job.write = &WriteOutput;
    job.ctx = &file;
    job.stride = -static_cast<ptrdiff_t>(m_effWidth);
    job.top_row = GetBits() + static_cast<size_t>(m_height - 1) * m_effWidth;
    job.width = static_cast<int>(m_width);
    job.height = static_cast<int>(m_height);
    job.components = m_bpp == 24 ? 3 : 1;
    job.quality = m_jpegQuality;
    job.x_dpi = DensityFromDpi(m_xDpi);
    job.y_dpi = DensityFromDpi(m_yDpi);
    job.message = m_lastError;
    return codec_jpeg_encode(&job) == 0;
}
