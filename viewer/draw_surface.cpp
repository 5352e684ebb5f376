#include "viewer/draw_surface.h"

#include <algorithm>
#include <bit>
#include <cstring>

void CDrawSurface::ReversePixels(uint8_t* dst, const uint8_t* src, int count)
{
    const uint8_t* p = src + size_t(count) * 3;
    int left = count;
    // Four pixels at a time as three little-endian words: a0a1a2b0 b1b2c0c1 c2d0d1d2 become
    // d0d1d2c0 c1c2b0b1 b2a0a1a2.
    for (; left >= 4; left -= 4, dst += 12) {
        p -= 12;
        uint32_t w0, w1, w2;
        std::memcpy(&w0, p, 4);
        std::memcpy(&w1, p + 4, 4);
        std::memcpy(&w2, p + 8, 4);
        const uint32_t o0 = (w2 >> 8) | (((w1 >> 16) & 0xffu) << 24);
        const uint32_t o1 = (w1 >> 24) | ((w2 & 0xffu) << 8) | ((w0 >> 24) << 16) | ((w1 & 0xffu) << 24);
        const uint32_t o2 = ((w1 >> 8) & 0xffu) | ((w0 & 0xffffffu) << 8);
        std::memcpy(dst, &o0, 4);
        std::memcpy(dst + 4, &o1, 4);
        std::memcpy(dst + 8, &o2, 4);
    }
    for (; left > 0; --left, dst += 3) {
        p -= 3;
        dst[0] = p[0];
        dst[1] = p[1];
        dst[2] = p[2];
    }
}

bool CDrawSurface::Draw(const uint8_t* bits, int width, int height, int stride, SurfaceRect src,
                        SurfaceRect dst, int turn)
{
    static_assert(std::endian::native == std::endian::little, "ReversePixels packs words little-endian");
    if (!bits || width <= 0 || height <= 0 || dst.width <= 0 || dst.height <= 0)
        return false;
    // Clip the source to the picture; an empty source draws nothing.
    src.x = std::clamp(src.x, 0, width);
    src.y = std::clamp(src.y, 0, height);
    src.width = std::clamp(src.width, 0, width - src.x);
    src.height = std::clamp(src.height, 0, height - src.y);
    if (src.width == 0 || src.height == 0)
        return false;

    const int outStride = (src.width * 3 + 3) & ~3;
    m_next.resize(size_t(outStride) * size_t(src.height));
    const bool flipRows = turn == kFlip || turn == kRotate;
    const bool reverse = turn == kMirror || turn == kRotate;
    for (int y = 0; y < src.height; ++y) {
        const int shownRow = src.y + y; // from the top of the turned picture
        const int pictureRow = flipRows ? height - 1 - shownRow : shownRow;
        const uint8_t* row = bits + size_t(height - 1 - pictureRow) * size_t(stride);
        uint8_t* out = m_next.data() + size_t(y) * size_t(outStride);
        if (reverse)
            ReversePixels(out, row + size_t(width - src.x - src.width) * 3, src.width);
        else
            std::memcpy(out, row + size_t(src.x) * 3, size_t(src.width) * 3);
    }
    {
        std::lock_guard lock(m_lock);
        m_pixels.swap(m_next);
        m_width = src.width;
        m_height = src.height;
        m_stride = outStride;
        m_where = dst;
        ++m_frames;
    }
    if (m_notifier)
        m_notifier();
    return true;
}

void CDrawSurface::SetNotifier(std::function<void()> notifier)
{
    m_notifier = std::move(notifier);
}

bool CDrawSurface::WithFrame(const std::function<void(const SurfaceFrame&)>& use) const
{
    std::lock_guard lock(m_lock);
    if (m_pixels.empty() || m_where.width <= 0)
        return false;
    use(SurfaceFrame{m_pixels.data(), m_width, m_height, m_stride, m_where});
    return true;
}

void CDrawSurface::Clear()
{
    std::lock_guard lock(m_lock);
    m_pixels.clear();
    m_where = {};
}

uint64_t CDrawSurface::FramesDrawn() const
{
    std::lock_guard lock(m_lock);
    return m_frames;
}
