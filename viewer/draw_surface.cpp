#include "viewer/draw_surface.h"

#include <algorithm>

bool CDrawSurface::Draw(const uint8_t* bits, int width, int height, int stride, SurfaceRect src,
                        SurfaceRect dst)
{
    if (!bits || width <= 0 || height <= 0 || dst.width <= 0 || dst.height <= 0)
        return false;
    // Clip the source to the picture; an empty source draws nothing.
    src.x = std::clamp(src.x, 0, width);
    src.y = std::clamp(src.y, 0, height);
    src.width = std::clamp(src.width, 0, width - src.x);
    src.height = std::clamp(src.height, 0, height - src.y);
    if (src.width == 0 || src.height == 0)
        return false;

    m_columns.resize(size_t(dst.width));
    for (int x = 0; x < dst.width; ++x)
        m_columns[size_t(x)] = (src.x + int(int64_t(x) * src.width / dst.width)) * 3;
    m_scaled.resize(size_t(dst.width) * size_t(dst.height));
    for (int y = 0; y < dst.height; ++y) {
        const int pictureRow = src.y + int(int64_t(y) * src.height / dst.height); // from the top
        const uint8_t* row = bits + size_t(height - 1 - pictureRow) * size_t(stride);
        uint32_t* out = m_scaled.data() + size_t(y) * size_t(dst.width);
        for (int x = 0; x < dst.width; ++x) {
            const uint8_t* p = row + m_columns[size_t(x)];
            out[x] = 0xff000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
    {
        std::lock_guard lock(m_lock);
        m_pixels.swap(m_scaled);
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

bool CDrawSurface::WithFrame(
    const std::function<void(const uint32_t* pixels, SurfaceRect where)>& use) const
{
    std::lock_guard lock(m_lock);
    if (m_pixels.empty() || m_where.width <= 0)
        return false;
    use(m_pixels.data(), m_where);
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
