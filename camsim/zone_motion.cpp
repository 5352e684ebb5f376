#include "camsim/zone_motion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace camsim {

namespace {

// Zone space to picture pixels, clipped to the picture.
int Scale(int value, int picture, int space)
{
    return int(std::clamp<int64_t>(int64_t(value) * picture / space, 0, picture));
}

// Cell k of a line of `size` pixels: its first pixel, its end and its centre.
struct Span
{
    int begin, end;
    int Centre() const { return (begin + end) / 2; }
};

Span CellSpan(int k, int size)
{
    return {k * kZoneCell, std::min(size, (k + 1) * kZoneCell)};
}

} // namespace

int ZoneChangeLimit(const Zone& zone)
{
    const int threshold = std::clamp(zone.threshold, 0, 255);
    const int sensitivity = std::clamp(zone.sensitivity, 0, 10);
    return threshold * (11 - sensitivity) / 48;
}

ZoneMotionMeter::ZoneMotionMeter(int width, int height)
    : m_width(width), m_height(height), m_columns((width + kZoneCell - 1) / kZoneCell),
      m_rows((height + kZoneCell - 1) / kZoneCell), m_previous(size_t(width) * size_t(height)),
      m_cellChange(size_t(m_columns) * size_t(m_rows))
{
}

std::array<uint8_t, 4> ZoneMotionMeter::Measure(const uint8_t* luma, ptrdiff_t stride,
                                                const ZoneConfig& zones)
{
    std::array<uint8_t, 4> levels{};
    const bool anyEnabled = std::any_of(zones.zones.begin(), zones.zones.end(),
                                        [](const Zone& z) { return z.enable != 0; });
    if (anyEnabled && m_havePrevious) {
        std::fill(m_cellChange.begin(), m_cellChange.end(), 0u);
        const int whole = m_width / kZoneCell; // cells of a full 16 pixels across
        for (int y = 0; y < m_height; ++y) {
            const uint8_t* now = luma + y * stride;
            const uint8_t* before = m_previous.data() + size_t(y) * size_t(m_width);
            uint32_t* cells = m_cellChange.data() + size_t(y / kZoneCell) * size_t(m_columns);
            // A fixed count of 16 lets the compiler turn each cell into one vector operation.
            for (int c = 0; c < whole; ++c) {
                const uint8_t* a = now + c * kZoneCell;
                const uint8_t* b = before + c * kZoneCell;
                uint32_t sum = 0;
                for (int x = 0; x < kZoneCell; ++x)
                    sum += uint32_t(std::abs(int(a[x]) - int(b[x])));
                cells[c] += sum;
            }
            for (int x = whole * kZoneCell; x < m_width; ++x)
                cells[whole] += uint32_t(std::abs(int(now[x]) - int(before[x])));
        }

        for (size_t n = 0; n < levels.size(); ++n) {
            const Zone& z = zones.zones[n];
            const int x1 = Scale(z.x1, m_width, kZoneSpaceWidth);
            const int x2 = Scale(z.x2, m_width, kZoneSpaceWidth);
            const int y1 = Scale(z.y1, m_height, kZoneSpaceHeight);
            const int y2 = Scale(z.y2, m_height, kZoneSpaceHeight);
            if (!z.enable || x2 <= x1 || y2 <= y1)
                continue;
            const uint64_t limit = uint64_t(ZoneChangeLimit(z));
            uint64_t cells = 0, moving = 0;
            auto count = [&](int c, int r) {
                const Span cs = CellSpan(c, m_width), rs = CellSpan(r, m_height);
                const uint64_t pixels = uint64_t(cs.end - cs.begin) * uint64_t(rs.end - rs.begin);
                ++cells;
                if (m_cellChange[size_t(r) * size_t(m_columns) + size_t(c)] > limit * pixels)
                    ++moving;
            };
            // A cell belongs to the zone whose rectangle holds its centre.
            for (int r = y1 / kZoneCell; r <= (y2 - 1) / kZoneCell; ++r) {
                const int cy = CellSpan(r, m_height).Centre();
                if (cy < y1 || cy >= y2)
                    continue;
                for (int c = x1 / kZoneCell; c <= (x2 - 1) / kZoneCell; ++c) {
                    const int cx = CellSpan(c, m_width).Centre();
                    if (cx >= x1 && cx < x2)
                        count(c, r);
                }
            }
            // A zone smaller than a cell still watches the cell under its middle.
            if (cells == 0)
                count(((x1 + x2) / 2) / kZoneCell, ((y1 + y2) / 2) / kZoneCell);
            // Rounded up, so that any moving cell shows.
            levels[n] = uint8_t((moving * 255 + cells - 1) / cells);
        }
    }
    for (int y = 0; y < m_height; ++y)
        std::memcpy(m_previous.data() + size_t(y) * size_t(m_width), luma + y * stride,
                    size_t(m_width));
    m_havePrevious = true;
    return levels;
}

} // namespace camsim
