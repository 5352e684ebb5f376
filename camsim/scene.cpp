#include "camsim/scene.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace camsim {

namespace {

// 5x7 digits, one byte per row, bit 4 the leftmost column.
constexpr std::array<std::array<uint8_t, 7>, 10> kDigits = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
}};

// Goes 0 → span → 0 once per period.
int Bounce(uint32_t timeMs, uint32_t periodMs, int span)
{
    if (span <= 0)
        return 0;
    const uint32_t phase = timeMs % periodMs;
    const uint32_t half = periodMs / 2;
    const uint32_t up = phase < half ? phase : periodMs - phase;
    return int(uint64_t(up) * uint64_t(span) / half);
}

} // namespace

Scene::Scene(int width, int height) : m_width(width), m_height(height)
{
    m_backdrop.resize(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &m_backdrop[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = uint8_t(40 + 160 * x / std::max(1, width - 1));
            p[1] = uint8_t(40 + 160 * y / std::max(1, height - 1));
            p[2] = 150;
        }
    m_rgb = m_backdrop;
}

const uint8_t* Scene::Render(uint32_t timeMs, uint64_t counter)
{
    std::memcpy(m_rgb.data(), m_backdrop.data(), m_rgb.size());

    const int barWidth = std::max(2, m_width / 16);
    const int barX = Bounce(timeMs, 3000, m_width - barWidth);
    FillRect(barX, 0, barWidth, m_height, 240, 240, 240);

    const int radius = std::max(3, m_height / 8);
    const int cx = radius + Bounce(timeMs, 2300, m_width - 2 * radius);
    const int cy = radius + Bounce(timeMs, 1700, m_height - 2 * radius);
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                SetPixel(x, y, 220, 40, 30);

    if (m_aimX != 0 || m_aimY != 0) {
        // Turning right shows what lay right of the picture; tilting up what lay above it.
        const int ox = ((m_aimX % m_width) + m_width) % m_width;
        const int oy = ((-m_aimY % m_height) + m_height) % m_height;
        m_view.resize(m_rgb.size());
        const size_t row = size_t(m_width) * 3;
        for (int y = 0; y < m_height; ++y) {
            const uint8_t* src = m_rgb.data() + size_t((y + oy) % m_height) * row;
            uint8_t* dst = m_view.data() + size_t(y) * row;
            const size_t right = size_t(m_width - ox) * 3;
            std::memcpy(dst, src + size_t(ox) * 3, right);
            std::memcpy(dst + right, src, size_t(ox) * 3);
        }
        m_rgb.swap(m_view);
    }
    DrawCounter(counter);
    return m_rgb.data();
}

void Scene::SetPixel(int x, int y, uint8_t r, uint8_t g, uint8_t b)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    uint8_t* p = &m_rgb[(size_t(y) * size_t(m_width) + size_t(x)) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

void Scene::FillRect(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    for (int y = std::max(0, y0); y < std::min(m_height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(m_width, x0 + w); ++x)
            SetPixel(x, y, r, g, b);
}

void Scene::DrawCounter(uint64_t counter)
{
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, counter);
    (void)ec;
    const int count = int(end - digits);
    const int scale = std::max(1, m_height / 60);
    const int margin = scale * 2;
    FillRect(0, 0, count * 6 * scale + 2 * margin, 7 * scale + 2 * margin, 0, 0, 0);
    for (int i = 0; i < count; ++i) {
        const auto& glyph = kDigits[size_t(digits[i] - '0')];
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyph[size_t(row)] & (0x10 >> col))
                    FillRect(margin + (i * 6 + col) * scale, margin + row * scale, scale, scale,
                             255, 255, 0);
    }
}

void RgbToYuv420(const uint8_t* rgb, int width, int height, Plane y, Plane u, Plane v)
{
    auto pixel = [&](int px, int py) {
        return rgb + (size_t(py) * size_t(width) + size_t(px)) * 3;
    };
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px) {
            const uint8_t* p = pixel(px, py);
            y.data[py * y.stride + px] =
                uint8_t(16 + ((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8));
        }
    for (int cy = 0; cy < (height + 1) / 2; ++cy)
        for (int cx = 0; cx < (width + 1) / 2; ++cx) {
            int r = 0, g = 0, b = 0, n = 0;
            for (int dy = 0; dy < 2 && 2 * cy + dy < height; ++dy)
                for (int dx = 0; dx < 2 && 2 * cx + dx < width; ++dx) {
                    const uint8_t* p = pixel(2 * cx + dx, 2 * cy + dy);
                    r += p[0];
                    g += p[1];
                    b += p[2];
                    ++n;
                }
            r = (r + n / 2) / n;
            g = (g + n / 2) / n;
            b = (b + n / 2) / n;
            // Arithmetic shift of a negative sum rounds toward minus infinity, as intended.
            u.data[cy * u.stride + cx] = uint8_t(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8));
            v.data[cy * v.stride + cx] = uint8_t(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8));
        }
}

} // namespace camsim
