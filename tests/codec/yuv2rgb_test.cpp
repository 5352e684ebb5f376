#include "codec/color/yuv2rgb.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Plain(int w, int h, uint8_t y, uint8_t u, uint8_t v)
{
    std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2, y);
    std::fill(yuv.begin() + long(w) * h, yuv.begin() + long(w) * h * 5 / 4, u);
    std::fill(yuv.begin() + long(w) * h * 5 / 4, yuv.end(), v);
    return yuv;
}

std::vector<uint8_t> Bgr(uint8_t y, uint8_t u, uint8_t v)
{
    auto yuv = Plain(4, 2, y, u, v);
    std::vector<uint8_t> rgb(4 * 2 * 3);
    init_YUV2RGB_tab();
    ConvertYUVtoRGB(yuv.data(), rgb.data(), 4, 2);
    delete_YUV2RGB_tab();
    return {rgb.begin(), rgb.begin() + 3};
}

} // namespace

TEST(Yuv2Rgb, TheTableArithmeticAtItsEdges)
{
    EXPECT_EQ(Bgr(16, 128, 128), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(Bgr(235, 128, 128), (std::vector<uint8_t>{254, 254, 254}));
    EXPECT_EQ(Bgr(255, 255, 128), (std::vector<uint8_t>{255, 228, 255}));
    EXPECT_EQ(Bgr(0, 0, 0), (std::vector<uint8_t>{0, 135, 0}));
}

TEST(Yuv2Rgb, RowsGoBottomUpAndChromaIsSharedByTwoByTwo)
{
    // First luma row 16 (black), second 235: the output's first row is the picture's last.
    std::vector<uint8_t> yuv = {16, 16, 16, 16, 235, 235, 235, 235, 128, 128, 128, 128};
    std::vector<uint8_t> rgb(24, 7);
    init_YUV2RGB_tab();
    ConvertYUVtoRGB(yuv.data(), rgb.data(), 4, 2);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(rgb[size_t(i)], 254);
        EXPECT_EQ(rgb[size_t(12 + i)], 0);
    }
    // Each pixel pair of a row uses its own chroma pair: blue chroma only on the right half.
    std::vector<uint8_t> split = {100, 100, 100, 100, 100, 100, 100, 100, 128, 255, 128, 128};
    ConvertYUVtoRGB(split.data(), rgb.data(), 4, 2);
    EXPECT_EQ(rgb[0], rgb[3]);
    EXPECT_LT(rgb[3], rgb[6]);
    EXPECT_EQ(rgb[6], rgb[9]);
    delete_YUV2RGB_tab();
}

TEST(Yuv2Rgb, UnsupportedSizesWriteNothingAndOneUserCannotPullTheTablesFromAnother)
{
    auto yuv = Plain(8, 4, 200, 90, 160);
    std::vector<uint8_t> rgb(8 * 4 * 3, 7);
    init_YUV2RGB_tab();
    for (auto [w, h] : {std::pair{8, 0}, {8, 3}, {6, 4}, {0, 4}, {-4, 4}, {8, -2}})
        ConvertYUVtoRGB(yuv.data(), rgb.data(), w, h);
    EXPECT_EQ(rgb, std::vector<uint8_t>(rgb.size(), 7));

    init_YUV2RGB_tab(); // a second user
    delete_YUV2RGB_tab();
    ConvertYUVtoRGB(yuv.data(), rgb.data(), 8, 4);
    EXPECT_NE(rgb, std::vector<uint8_t>(rgb.size(), 7));
    delete_YUV2RGB_tab();
    delete_YUV2RGB_tab(); // one too many is harmless

    CYuvConverter converter;
    std::vector<uint8_t> mine(rgb.size(), 0);
    EXPECT_EQ(converter.Convert(yuv.data(), yuv.data() + 32, yuv.data() + 40, mine.data(), 8, 4), 0);
    ASSERT_TRUE(converter.BuildTables());
    EXPECT_EQ(converter.Convert(yuv.data(), yuv.data() + 32, yuv.data() + 40, mine.data(), 8, 4), 1);
    EXPECT_EQ(mine, rgb); // the object and the exported call agree
    EXPECT_EQ(converter.Convert(yuv.data(), yuv.data() + 32, yuv.data() + 40, mine.data(), 8, 3), 0);
}

TEST(Yuv2Rgb, EveryTripleMatchesTheFormula)
{
    // The tables are the BT.601 products in 16.16; check every (Y, U, V) against them computed
    // directly, so any change to the tables or the lookups shows.
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (int y = 0; y < 256; ++y)
        for (int u = 0; u < 256; u += 3)
            for (int v = 0; v < 256; v += 5) {
                uint8_t bgr[3];
                Yuv2RgbReference(y, u, v, bgr);
                const int yt = (y - 16) * 76309;
                ASSERT_EQ(bgr[0], clamp((yt + (u - 128) * 132201) >> 16));
                ASSERT_EQ(bgr[1], clamp((yt - (v - 128) * 53279 - (u - 128) * 25675) >> 16));
                ASSERT_EQ(bgr[2], clamp((yt + (v - 128) * 104597) >> 16));
            }
}
