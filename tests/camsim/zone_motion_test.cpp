#include "camsim/zone_motion.h"

#include <gtest/gtest.h>

#include <vector>

using namespace camsim;

namespace {

using Levels = std::array<uint8_t, 4>;

struct Picture
{
    int width, height;
    std::vector<uint8_t> luma;

    Picture(int w, int h, uint8_t value) : width(w), height(h), luma(size_t(w) * size_t(h), value)
    {
    }
    void Fill(int x0, int y0, int x1, int y1, uint8_t value)
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                luma[size_t(y) * size_t(width) + size_t(x)] = value;
    }
};

Zone Rect(int x1, int y1, int x2, int y2, int enable = 1, int threshold = 128, int sensitivity = 5)
{
    return Zone{enable, threshold, sensitivity, x1, y1, x2, y2};
}

// The levels of `after` against `before` on a fresh meter; the first picture must read 0.
Levels Between(const Picture& before, const Picture& after, const ZoneConfig& zones)
{
    ZoneMotionMeter meter(before.width, before.height);
    EXPECT_EQ(meter.Measure(before.luma.data(), before.width, zones), Levels{});
    return meter.Measure(after.luma.data(), after.width, zones);
}

} // namespace

TEST(ZoneMotion, MovingCellsCountInsideEnabledZonesScaledToThePicture)
{
    // 320 x 240, half the zone space: a 32 x 32 square steps 32 pixels right, changing the
    // 4 x 2 cells from (64, 32) to (128, 64).
    Picture a(320, 240, 100), b(320, 240, 100);
    a.Fill(64, 32, 96, 64, 200);
    b.Fill(96, 32, 128, 64, 200);

    ZoneConfig zones;
    zones.zones = {Rect(128, 64, 256, 128),    // exactly the changed cells
                   Rect(0, 0, 256, 128),       // 8 of its 32 cells
                   Rect(128, 64, 256, 128, 0), // the same as zone 1, disabled
                   Rect(320, 240, 640, 480)};  // where nothing moves
    EXPECT_EQ(Between(a, b, zones), (Levels{255, 64, 0, 0}));

    // Smaller than a cell: the cell under its middle. Past the picture: clipped, 8 of 32 cells.
    // Empty or upside down: nothing to watch.
    zones.zones = {Rect(130, 66, 134, 70), Rect(128, 64, 2000, 128), Rect(200, 100, 200, 120),
                   Rect(256, 128, 128, 64)};
    EXPECT_EQ(Between(a, b, zones), (Levels{255, 64, 0, 0}));

    // A picture whose width is no multiple of the cell: the narrow last column counts as well.
    Picture c(100, 40, 50), d(100, 40, 50);
    d.Fill(96, 0, 100, 16, 250);
    zones.zones = {Rect(615, 0, 640, 192), Rect(0, 0, 512, 480), Zone{}, Zone{}};
    EXPECT_EQ(Between(c, d, zones), (Levels{255, 0, 0, 0}));
}

TEST(ZoneMotion, ThresholdAndSensitivitySetHowMuchChangeCounts)
{
    // Every pixel changes by 20.
    const Picture before(160, 120, 100), after(160, 120, 120);
    struct Case
    {
        int threshold, sensitivity;
        bool moves;
    } cases[] = {
        {128, 5, true},  {160, 5, false}, {160, 6, true}, {255, 10, true},
        {255, 0, false}, {0, 0, true},    {90, 0, false}, {80, 0, true},
        {-40, 5, true},  {999, 99, true}, // out of range: clamped to 0 and to 255 with 10
    };
    for (const Case& c : cases) {
        ZoneConfig zones;
        zones.zones[2] = Rect(0, 0, 640, 480, 1, c.threshold, c.sensitivity);
        EXPECT_EQ(Between(before, after, zones)[2], c.moves ? 255 : 0)
            << c.threshold << "/" << c.sensitivity;
    }
    // No change at all never counts, even with the lowest bar.
    ZoneConfig zones;
    zones.zones[0] = Rect(0, 0, 640, 480, 1, 0, 10);
    EXPECT_EQ(Between(before, before, zones), Levels{});
}
