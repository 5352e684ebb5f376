#include "codec/motion/motion_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

extern "C" int motion_grid_header_compiles_as_c(void);

namespace {

constexpr unsigned char kCanary = 0xA5;

struct Planes
{
    int width, height;
    std::vector<unsigned char> a, b;

    Planes(int w, int h, unsigned char fill = 100)
        : width(w), height(h), a(size_t(w) * h, fill), b(size_t(w) * h, fill)
    {
    }
    int Columns() const { return width / 16 + 1; }
    int Rows() const { return height / 16 + 1; }

    // Runs the grid into a buffer one byte longer than the grid, so writes past it show.
    std::vector<unsigned char> Grid(int threshold) const
    {
        std::vector<unsigned char> grid(size_t(Columns()) * Rows() + 1, kCanary);
        MotionDetect(a.data(), b.data(), grid.data(), width, height, threshold);
        EXPECT_EQ(grid.back(), kCanary) << "wrote past the grid";
        grid.pop_back();
        return grid;
    }
    unsigned char Cell(const std::vector<unsigned char>& grid, int cx, int cy) const
    {
        return grid[size_t(cy) * Columns() + cx];
    }
};

// Differs in every sample, by 1 to 255 in both directions.
void MakeEveryDifferent(Planes& p, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (size_t i = 0; i < p.a.size(); ++i) {
        p.a[i] = static_cast<unsigned char>(rng());
        p.b[i] = static_cast<unsigned char>(p.a[i] + 1 + rng() % 255);
    }
}

} // namespace

TEST(MotionGrid, QuarterVgaHasAnExtraColumnAndRowThatStayZero)
{
    Planes p(320, 240);
    MakeEveryDifferent(p, 1);
    auto grid = p.Grid(0);
    ASSERT_EQ(grid.size(), 336u);
    ASSERT_EQ(p.Columns(), 21);
    ASSERT_EQ(p.Rows(), 16);
    for (int cy = 0; cy < 16; ++cy) {
        for (int cx = 0; cx < 21; ++cx) {
            const bool spare = cx == 20 || cy == 15;
            // A whole cell of 256 changed samples is capped, not wrapped to 0.
            EXPECT_EQ(p.Cell(grid, cx, cy), spare ? 0 : 255) << cx << "," << cy;
        }
    }
}

TEST(MotionGrid, IdenticalPlanesGiveAZeroGridWhateverTheContent)
{
    Planes p(48, 32);
    std::mt19937 rng(7);
    for (auto& v : p.a)
        v = static_cast<unsigned char>(rng());
    p.b = p.a;
    for (int threshold : {0, 1, 128})
        EXPECT_EQ(p.Grid(threshold), std::vector<unsigned char>(12, 0)) << threshold;
}

TEST(MotionGrid, ThresholdIsAStrictBoundOnTheAbsoluteDifference)
{
    // Four cells of a 32x32 plane, each with a known set of differences.
    Planes p(32, 32, 128);
    auto at = [&](int x, int y) { return size_t(y) * 32 + x; };
    // Cell (0,0): 10 samples up by exactly 20; cell (1,0): 7 samples down by 21.
    for (int i = 0; i < 10; ++i)
        p.b[at(i, 3)] = 148;
    for (int i = 0; i < 7; ++i)
        p.b[at(16 + i, 15)] = 107;
    // Cell (0,1): 5 samples down by 1; cell (1,1): 3 samples across the full range.
    for (int i = 0; i < 5; ++i)
        p.b[at(2, 16 + i)] = 127;
    for (int i = 0; i < 3; ++i) {
        p.a[at(31, 29 + i)] = 0;
        p.b[at(31, 29 + i)] = 255;
    }

    auto g20 = p.Grid(20);
    EXPECT_EQ(p.Cell(g20, 0, 0), 0); // exactly the threshold is not a change
    EXPECT_EQ(p.Cell(g20, 1, 0), 7);
    EXPECT_EQ(p.Cell(g20, 0, 1), 0);
    EXPECT_EQ(p.Cell(g20, 1, 1), 3);

    auto g0 = p.Grid(0);
    EXPECT_EQ(p.Cell(g0, 0, 0), 10);
    EXPECT_EQ(p.Cell(g0, 1, 0), 7);
    EXPECT_EQ(p.Cell(g0, 0, 1), 5); // any difference at all counts at 0
    EXPECT_EQ(p.Cell(g0, 1, 1), 3);

    EXPECT_EQ(p.Grid(254), std::vector<unsigned char>({0, 0, 0, 0, 3, 0, 0, 0, 0}));
    EXPECT_EQ(p.Grid(255), std::vector<unsigned char>(9, 0)); // no difference exceeds 255
}

TEST(MotionGrid, PartialCellsCountOnlyTheirSamples)
{
    // 20x20: one whole cell and three partial ones; the corner holds the 4x4 samples at 16..19.
    Planes small(20, 20);
    MakeEveryDifferent(small, 2);
    EXPECT_EQ(small.Grid(0), std::vector<unsigned char>({255, 64, 64, 16}));

    // 37x21: columns of 16, 16 and 5 samples, rows of 16 and 5; the row stride is 37, not 48.
    Planes odd(37, 21);
    MakeEveryDifferent(odd, 3);
    EXPECT_EQ(odd.Grid(0), std::vector<unsigned char>({255, 255, 80, 80, 80, 25}));

    // One changed sample lands in the cell of its own column and row.
    Planes one(37, 21);
    one.b[size_t(17) * 37 + 33] = 0;
    EXPECT_EQ(one.Grid(0), std::vector<unsigned char>({0, 0, 0, 0, 0, 1}));
}

TEST(MotionGrid, DegenerateSizesWriteOnlyTheGridTheyDefine)
{
    // Narrower than one cell: a single partial cell, and the spare row below it.
    Planes thin(3, 40);
    MakeEveryDifferent(thin, 4);
    EXPECT_EQ(thin.Grid(0), std::vector<unsigned char>({48, 48, 24}));

    // An empty plane still defines one cell, which is zeroed.
    std::vector<unsigned char> grid = {9, kCanary};
    unsigned char none = 0;
    MotionDetect(&none, &none, grid.data(), 0, 0, 0);
    EXPECT_EQ(grid, std::vector<unsigned char>({0, kCanary}));

    // A negative size defines no grid at all: nothing is written.
    grid = {9, kCanary};
    MotionDetect(&none, &none, grid.data(), -16, 16, 0);
    EXPECT_EQ(grid, std::vector<unsigned char>({9, kCanary}));
}

TEST(MotionGrid, CallableFromC)
{
    EXPECT_EQ(motion_grid_header_compiles_as_c(), 1);
}
