// Every conversion level against the table arithmetic, byte for byte.
#include "codec/color/yuv2rgb.h"
#include "codec/color/yuv2rgb_simd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using yuv2rgb::Level;

struct Planes
{
    int w, h;
    std::vector<uint8_t> y, u, v; // separate and exactly sized, so ASan sees any over-read
};

// The table arithmetic pixel by pixel: bottom-up rows, one chroma pair per 2 x 2 block.
std::vector<uint8_t> Expected(const Planes& p)
{
    std::vector<uint8_t> out(size_t(p.w) * p.h * 3);
    for (int r = 0; r < p.h; ++r)
        for (int x = 0; x < p.w; ++x) {
            const size_t c = size_t(r / 2) * (p.w / 2) + x / 2;
            Yuv2RgbReference(p.y[size_t(r) * p.w + x], p.u[c], p.v[c],
                             &out[(size_t(p.h - 1 - r) * p.w + x) * 3]);
        }
    return out;
}

class Yuv2RgbLevels : public testing::TestWithParam<Level>
{
protected:
    void SetUp() override
    {
        if (!yuv2rgb::Force(GetParam()))
            GTEST_SKIP() << yuv2rgb::LevelName(GetParam()) << " is not available here";
        init_YUV2RGB_tab();
        ASSERT_TRUE(converter.BuildTables());
    }
    void TearDown() override
    {
        delete_YUV2RGB_tab();
        yuv2rgb::Force(yuv2rgb::Best());
    }

    // Both entry points; the object's output gets guard bytes on each side.
    std::vector<uint8_t> ConvertBothWays(const Planes& p)
    {
        const size_t size = size_t(p.w) * p.h * 3, guard = 64;
        std::vector<uint8_t> guarded(size + 2 * guard, 0xA5);
        EXPECT_EQ(
            converter.Convert(p.y.data(), p.u.data(), p.v.data(), guarded.data() + guard, p.w, p.h),
            1);
        const std::vector<uint8_t> untouched(guard, 0xA5);
        EXPECT_EQ(std::vector<uint8_t>(guarded.begin(), guarded.begin() + guard), untouched)
            << "written before the output";
        EXPECT_EQ(std::vector<uint8_t>(guarded.end() - guard, guarded.end()), untouched)
            << "written past the output";
        std::vector<uint8_t> yuv(p.y);
        yuv.insert(yuv.end(), p.u.begin(), p.u.end());
        yuv.insert(yuv.end(), p.v.begin(), p.v.end());
        std::vector<uint8_t> exported(size);
        ConvertYUVtoRGB(yuv.data(), exported.data(), p.w, p.h);
        const std::vector<uint8_t> object(guarded.begin() + guard, guarded.end() - guard);
        EXPECT_EQ(object, exported) << "the object and the exported call disagree";
        return object;
    }

    CYuvConverter converter;
};

TEST_P(Yuv2RgbLevels, EveryYuvTripleGivesTheTablesBytes)
{
    // 256 pictures of 512 x 128 hold each (Y, U, V) once: picture k's chroma sample (cx, cy) is
    // U = k + cy, V = cx + 3 cy, and the luma of its block runs through four consecutive values
    // starting at 4 (cy + V). Only chroma rows below 64 exist, so each (U, V) pair shows up in 64
    // blocks, one per chroma row, and those blocks' luma covers 0..255. Values change along every
    // row, so a pixel read from the wrong place shows too.
    const int w = 512, h = 128;
    std::vector<bool> seen(1 << 24);
    Planes p{w, h, std::vector<uint8_t>(size_t(w) * h), std::vector<uint8_t>(size_t(w) * h / 4),
             std::vector<uint8_t>(size_t(w) * h / 4)};
    for (int k = 0; k < 256; ++k) {
        for (int cy = 0; cy < h / 2; ++cy)
            for (int cx = 0; cx < w / 2; ++cx) {
                const uint8_t u = uint8_t(k + cy), v = uint8_t(cx + 3 * cy);
                p.u[size_t(cy) * (w / 2) + cx] = u;
                p.v[size_t(cy) * (w / 2) + cx] = v;
                for (int d = 0; d < 4; ++d) {
                    const uint8_t y = uint8_t(4 * (cy + v) + d);
                    p.y[size_t(2 * cy + d / 2) * w + 2 * cx + d % 2] = y;
                    seen[size_t(y) << 16 | size_t(u) << 8 | v] = true;
                }
            }
        const std::vector<uint8_t> want = Expected(p), got = ConvertBothWays(p);
        if (got != want) {
            size_t i = 0;
            while (got[i] == want[i])
                ++i;
            const int r = h - 1 - int(i / 3 / w), x = int(i / 3 % w);
            const size_t c = size_t(r / 2) * (w / 2) + x / 2;
            FAIL() << "picture " << k << ", pixel (" << x << ", " << r << "): Y "
                   << int(p.y[size_t(r) * w + x]) << " U " << int(p.u[c]) << " V " << int(p.v[c])
                   << ", byte " << i % 3 << " is " << int(got[i]) << ", tables " << int(want[i]);
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 1 << 24) << "the pictures miss triples";
}

// A camera-like picture: smooth light and colour with a few hard edges, sensor noise, and the
// full byte range here and there rather than only studio range.
Planes Picture(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-6, 6), any(0, 255);
    auto clip = [](int x) { return uint8_t(x < 0 ? 0 : x > 255 ? 255 : x); };
    Planes p{w, h, std::vector<uint8_t>(size_t(w) * h), std::vector<uint8_t>(size_t(w) * h / 4),
             std::vector<uint8_t>(size_t(w) * h / 4)};
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) {
            int y = 40 + 180 * x / w + int(30 * std::sin(r * 0.21)) + noise(rng);
            if ((x / 24 + r / 16) % 5 == 0)
                y = (x + r) % 3 ? 0 : 255;
            p.y[size_t(r) * w + x] = rng() % 23 ? clip(y) : uint8_t(any(rng));
        }
    for (int r = 0; r < h / 2; ++r)
        for (int x = 0; x < w / 2; ++x) {
            const size_t c = size_t(r) * (w / 2) + x;
            p.u[c] = clip(128 + int(100 * std::cos(x * 0.05 + r * 0.03)) + noise(rng));
            p.v[c] = clip(128 + int(110 * std::sin(x * 0.04 - r * 0.07)) + noise(rng));
            if (rng() % 17 == 0)
                p.u[c] = uint8_t(any(rng));
        }
    return p;
}

TEST_P(Yuv2RgbLevels, PicturesOfEverySizeShapeGiveTheTablesBytes)
{
    // Widths below a vector block (4-12), between the 16- and 32-pixel blocks, and past them by
    // each remainder a multiple of 4 leaves, so every tail path runs; heights down to one row pair.
    const std::pair<int, int> sizes[] = {{4, 2},     {8, 2},   {12, 4},    {16, 2},   {20, 6},
                                         {28, 4},    {32, 2},  {36, 8},    {44, 2},   {48, 4},
                                         {52, 6},    {60, 10}, {64, 2},    {100, 6},  {124, 4},
                                         {176, 144}, {240, 8}, {352, 288}, {636, 10}, {640, 480}};
    unsigned seed = 1;
    for (auto [w, h] : sizes) {
        const Planes p = Picture(w, h, seed++);
        EXPECT_EQ(ConvertBothWays(p), Expected(p)) << w << " x " << h;
    }
}

INSTANTIATE_TEST_SUITE_P(, Yuv2RgbLevels,
                         testing::Values(Level::Tables, Level::Sse2, Level::Ssse3, Level::Avx2),
                         [](const testing::TestParamInfo<Level>& info) {
                             return std::string(yuv2rgb::LevelName(info.param));
                         });

TEST(Yuv2RgbLevelChoice, ConversionsRunTheFastestLevelTheCpuHas)
{
    const Level best = yuv2rgb::Best();
    EXPECT_EQ(yuv2rgb::Current(), best);
    for (Level level : {Level::Sse2, Level::Ssse3, Level::Avx2}) {
        if (level > best) {
            EXPECT_FALSE(yuv2rgb::Supported(level)) << yuv2rgb::LevelName(level);
        }
    }
#if defined(CAMCTL_YUV2RGB_X86) && defined(__x86_64__)
    EXPECT_NE(best, Level::Tables) << "every x86-64 CPU has SSE2";
#endif
}

} // namespace
