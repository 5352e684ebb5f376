#pragma once
// The camera's own motion measure per zone, the levels its ASF stream carries after each
// picture: the luma of each picture is compared with the one before in cells of 16 x 16 pixels,
// and a zone's level is the share of its cells that changed by more than the zone allows, 0 to
// 255. Zone corners are in 640 x 480 picture space and are scaled to the measured picture.

#include "camsim/zones.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

inline constexpr int kZoneCell = 16;
inline constexpr int kZoneSpaceWidth = 640;
inline constexpr int kZoneSpaceHeight = 480;

// The mean luma change per pixel above which a cell counts as moving: the threshold (0 to 255)
// sets it, a higher sensitivity (0 to 10) lowers it; 5 leaves threshold / 8.
int ZoneChangeLimit(const Zone& zone);

class ZoneMotionMeter
{
public:
    ZoneMotionMeter(int width, int height);

    // Levels of this picture against the previous one, zone 1 first; disabled zones, empty zones
    // and the first picture read 0. Keeps the picture for the next call.
    std::array<uint8_t, 4> Measure(const uint8_t* luma, ptrdiff_t stride, const ZoneConfig& zones);

private:
    int m_width, m_height, m_columns, m_rows;
    std::vector<uint8_t> m_previous;
    bool m_havePrevious = false;
    std::vector<uint32_t> m_cellChange; // sum of absolute luma differences per cell
};

} // namespace camsim
