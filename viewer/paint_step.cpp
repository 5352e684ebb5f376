#include "viewer/paint_step.h"

#include "codec/image_holder.h"
#include "viewer/picture_limits.h"

#include <algorithm>
#include <cstring>

CPaintStep::CPaintStep(CDrawSurface* surface) : m_surface(surface) {}

CPaintStep::~CPaintStep() = default;

void CPaintStep::SetSizes(int width, int height)
{
    m_pictureWidth = width;
    m_pictureHeight = height;
    SetDisplaySize(width, height);
}

void CPaintStep::SetDisplaySize(int width, int height)
{
    m_displayWidth = std::clamp(width, 0, kLargestPictureWidth);
    m_displayHeight = std::clamp(height, 0, kLargestPictureHeight);
}

void CPaintStep::SetZoomPercent(int percent)
{
    m_zoomPercent = std::clamp(percent, 0, kMaxZoomPercent);
}

void CPaintStep::SetZoomRect(int x, int y, int width, int height)
{
    m_zoomX = x;
    m_zoomY = y;
    m_zoomWidth = width;
    m_zoomHeight = height;
}

SurfaceRect CPaintStep::ZoomRect() const
{
    return {m_zoomX.load(), m_zoomY.load(), m_zoomWidth.load(), m_zoomHeight.load()};
}

std::unique_ptr<CImageHolder> CPaintStep::TakeSnapshot()
{
    return m_snapshots.Take();
}

std::vector<uint8_t> CPaintStep::SnapshotDib(const uint8_t* bits, int width, int height,
                                             int stride, int tw, int th)
{
    const size_t outStride = (size_t(tw) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> dib(kImageInfoHeaderSize + outStride * size_t(th), 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            dib[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, uint32_t(tw));
    put32(8, uint32_t(th));
    dib[12] = 1;
    dib[14] = 24;
    uint8_t* out = dib.data() + kImageInfoHeaderSize;
    if (tw == width && th == height) {
        for (int row = 0; row < th; ++row)
            std::memcpy(out + size_t(row) * outStride, bits + size_t(row) * size_t(stride),
                        size_t(tw) * 3);
        return dib;
    }
    // Bilinear in whole percent, counted from the top; neighbours past the edge repeat it.
    auto pixel = [&](int x, int y) {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        return bits + size_t(height - 1 - y) * size_t(stride) + size_t(x) * 3;
    };
    for (int ty = 0; ty < th; ++ty) {
        const double sy = double(ty) * height / th;
        const int j = std::clamp(int(sy), 0, height - 1);
        const int fy = std::clamp(int((sy - j) * 100), 0, 100);
        uint8_t* dst = out + size_t(th - 1 - ty) * outStride;
        for (int tx = 0; tx < tw; ++tx) {
            const double sx = double(tx) * width / tw;
            const int i = std::clamp(int(sx), 0, width - 1);
            const int fx = std::clamp(int((sx - i) * 100), 0, 100);
            const uint8_t *p00 = pixel(i, j), *p10 = pixel(i + 1, j), *p01 = pixel(i, j + 1),
                          *p11 = pixel(i + 1, j + 1);
            for (int c = 0; c < 3; ++c)
                dst[size_t(tx) * 3 + size_t(c)] =
                    uint8_t((p00[c] * (100 - fx) * (100 - fy) + p10[c] * fx * (100 - fy) +
                             p01[c] * (100 - fx) * fy + p11[c] * fx * fy) /
                            10000);
        }
    }
    return dib;
}

void CPaintStep::Paint(const uint8_t* bits, int width, int height, int stride)
{
    if (!bits || width <= 0 || height <= 0)
        return;
    const int mode = m_transform;

    if (const uint64_t ticket = m_snapshots.Claim()) {
        int tw = m_pictureWidth, th = m_pictureHeight;
        if (tw <= 0 || th <= 0) {
            tw = width;
            th = height;
        }
        auto holder = std::make_unique<CImageHolder>();
        // The stream's declared size is not memory anyone has: beyond what the viewer shows,
        // nothing is allocated for it and the snapshot is empty.
        if (FitsLargestPicture(tw, th)) {
            std::vector<uint8_t> dib = SnapshotDib(bits, width, height, stride, tw, th);
            if (!holder->Decode(dib.data(), uint32_t(dib.size()), FormatBmp))
                holder->FreeDib();
        }
        m_snapshots.Deliver(ticket, std::move(holder));
    }

    SurfaceRect source{0, 0, width, height};
    if (m_zoomActive)
        source = ZoomRect();
    // The setters bound both factors; the product is taken in 64 bits all the same.
    const int64_t percent = m_zoomPercent;
    SurfaceRect destination{kVideoLeft, kVideoTop, int(percent * m_displayWidth / 100),
                            int(percent * m_displayHeight / 100)};
    if (m_surface)
        // The turn is applied as the surface copies the picture: no scratch picture is needed.
        m_surface->Draw(bits, width, height, stride, source, destination, mode);
}
