// Every vector kernel against the plain one, on random and extreme inputs: the bytes must be
// the same. With MPEG4_DSP_BENCH=1 in the environment the same binary also times each kernel
// at each level (printed only, never judged).
#include "codec/mpeg4/dsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

using namespace mpeg4;

// The vector levels this CPU has; with MPEG4_DSP_BENCH the plain one first, for its times.
std::vector<DspLevel> vector_levels()
{
    std::vector<DspLevel> out;
    if (std::getenv("MPEG4_DSP_BENCH"))
        out.push_back(DspLevel::C);
    for (DspLevel l : {DspLevel::Sse2, DspLevel::Avx2})
        if (DspSupported(l))
            out.push_back(l);
    return out;
}

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// CPU time per call of f (a shared machine's load stays out), printed when asked for.
void time_it(const char* what, DspLevel level, const std::function<void()>& f)
{
    if (!std::getenv("MPEG4_DSP_BENCH"))
        return;
    int n = 0;
    const double start = cpu_seconds();
    double s = 0;
    do {
        for (int i = 0; i < 1000; ++i)
            f();
        n += 1000;
        s = cpu_seconds() - start;
    } while (s < 0.2);
    std::printf("[ bench ] %-24s %-5s %8.1f ns\n", what, DspLevelName(level), 1e9 * s / n);
}

// Coefficients as a stream gives them (sparse, mostly small), with some drawn from the values
// where the vector transform's bounds lie, and some beyond anything a stream can give.
void random_block(std::mt19937& rng, int32_t* b, unsigned* mask)
{
    static const int32_t kEdges[] = {1 << 19, (1 << 19) + 1, 2900000, 360000, 1 << 20, 1400000, 1 << 22,
                                     INT32_MAX, INT32_MIN, 2047 * 46, 126945};
    std::memset(b, 0, 64 * sizeof(int32_t));
    const int kind = static_cast<int>(rng() % 4);
    const int n = 1 + static_cast<int>(rng() % (kind == 3 ? 64 : 12));
    for (int i = 0; i < n; ++i) {
        int32_t v;
        switch (kind) {
        case 0: v = static_cast<int32_t>(rng() % 511) - 255; break;
        case 1: v = static_cast<int32_t>(rng() % 8191) - 4095; break;
        case 2: v = static_cast<int32_t>(rng() % 262143) - 131071; break;
        default: {
            const int64_t e = kEdges[rng() % (sizeof kEdges / sizeof kEdges[0])];
            const int64_t near = (rng() % 2 ? e : -e) - static_cast<int64_t>(rng() % 3);
            v = static_cast<int32_t>(std::clamp<int64_t>(near, INT32_MIN, INT32_MAX));
        }
        }
        b[rng() % 64] = v;
    }
    *mask = 0;
    for (int i = 0; i < 64; ++i)
        if (b[i])
            *mask |= 1u << (i >> 3);
}

TEST(Mpeg4Dsp, vector_transforms_match_the_plain_ones_for_every_block)
{
    std::mt19937 rng(11);
    const Dsp& c = DspFor(DspLevel::C);
    for (DspLevel level : vector_levels()) {
        const Dsp& v = DspFor(level);
        for (int set = 0; set < 2; ++set) {
            for (int t = 0; t < 40000; ++t) {
                int32_t a[64], b[64];
                unsigned mask;
                random_block(rng, a, &mask);
                std::memcpy(b, a, sizeof a);
                c.idct[set](a, mask);
                v.idct[set](b, mask);
                ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << DspLevelName(level) << " set " << set << " trial " << t;
            }
            // A typical residual, fresh for every call: a few low-frequency coefficients.
            int32_t blk[64] = {}, work[64];
            for (int i = 0; i < 6; ++i)
                blk[8 * (rng() % 4) + rng() % 4] = static_cast<int32_t>(rng() % 201) - 100;
            time_it(set ? "idct 128" : "idct 512", level, [&] {
                std::memcpy(work, blk, sizeof blk);
                v.idct[set](work, 0xFF);
            });
        }
    }
}

TEST(Mpeg4Dsp, vector_compensation_matches_for_every_size_case_and_rounding)
{
    std::mt19937 rng(5);
    const int stride = 64;
    std::vector<uint8_t> src(stride * 40);
    const Dsp& c = DspFor(DspLevel::C);
    for (DspLevel level : vector_levels()) {
        const Dsp& v = DspFor(level);
        for (int t = 0; t < 300; ++t) {
            // Noise, or the extremes where sums and roundings are largest.
            for (uint8_t& s : src)
                s = t % 3 == 0 ? static_cast<uint8_t>(rng()) : (rng() % 2 ? 255 : 0);
            for (int size = 0; size < 2; ++size)
                for (int half = 0; half < 4; ++half)
                    for (int rounding = 0; rounding < 2; ++rounding) {
                        uint8_t want[16 * 32], got[16 * 32];
                        std::memset(want, 7, sizeof want);
                        std::memset(got, 7, sizeof got);
                        const uint8_t* from = src.data() + stride * (rng() % 8) + rng() % 16;
                        c.mc.put[size][half](want, 32, from, stride, rounding);
                        v.mc.put[size][half](got, 32, from, stride, rounding);
                        ASSERT_EQ(0, std::memcmp(want, got, sizeof want))
                            << DspLevelName(level) << " size " << size << " case " << half << " rounding " << rounding;
                    }
        }
        uint8_t dst[16 * 32];
        time_it("mc 16x16 half both", level, [&] { v.mc.put[0][3](dst, 32, src.data(), stride, 1); });
        time_it("mc 8x8 half h", level, [&] { v.mc.put[1][1](dst, 32, src.data(), stride, 0); });
    }
}

TEST(Mpeg4Dsp, vector_residual_stores_clamp_like_the_plain_ones)
{
    std::mt19937 rng(9);
    const Dsp& c = DspFor(DspLevel::C);
    for (DspLevel level : vector_levels()) {
        const Dsp& v = DspFor(level);
        for (int t = 0; t < 5000; ++t) {
            int32_t blk[64];
            for (int32_t& x : blk) {
                const int r = static_cast<int>(rng() % 8);
                x = r == 0 ? INT32_MAX - static_cast<int32_t>(rng() % 4)
                  : r == 1 ? INT32_MIN + static_cast<int32_t>(rng() % 4)
                  : r == 2 ? static_cast<int32_t>(rng() % 70001) - 35000
                           : static_cast<int32_t>(rng() % 601) - 300;
            }
            uint8_t want[8 * 12], got[8 * 12];
            for (uint8_t& p : want)
                p = static_cast<uint8_t>(rng());
            std::memcpy(got, want, sizeof want);
            c.add_block(blk, want, 12);
            v.add_block(blk, got, 12);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "add " << DspLevelName(level);
            c.put_block(blk, want, 12);
            v.put_block(blk, got, 12);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "put " << DspLevelName(level);
        }
        int32_t blk[64] = {};
        uint8_t dst[8 * 8] = {};
        time_it("add block", level, [&] { v.add_block(blk, dst, 8); });
    }
}

TEST(Mpeg4Dsp, vector_post_filter_edges_match_on_pictures_that_take_both_modes)
{
    std::mt19937 rng(2);
    const Dsp& c = DspFor(DspLevel::C);
    for (DspLevel level : vector_levels()) {
        const Dsp& v = DspFor(level);
        for (int t = 0; t < 400; ++t) {
            // Flat runs with small steps (DC offset mode) between textured stretches (default mode).
            const int w = 8 + static_cast<int>(rng() % 60), h = 10 + static_cast<int>(rng() % 40), stride = w + 3;
            std::vector<uint8_t> pic(static_cast<size_t>(stride) * h);
            int level_now = static_cast<int>(rng() % 256);
            for (uint8_t& p : pic) {
                if (rng() % 16 == 0)
                    level_now = static_cast<int>(rng() % 256);
                const int noise = rng() % 4 == 0 ? static_cast<int>(rng() % 9) - 4 : 0;
                p = static_cast<uint8_t>(std::clamp(level_now + noise, 0, 255));
            }
            const int qp = 1 + static_cast<int>(rng() % 36);
            std::vector<uint8_t> want = pic, got = pic;
            // Horizontal edge at row 5 across every column; vertical edge at column 5 down every row.
            c.deblock_horizontal_edge(want.data(), stride, w, qp);
            v.deblock_horizontal_edge(got.data(), stride, w, qp);
            ASSERT_EQ(want, got) << "horizontal " << DspLevelName(level) << " trial " << t;
            c.deblock_vertical_edge(want.data(), stride, h, qp);
            v.deblock_vertical_edge(got.data(), stride, h, qp);
            ASSERT_EQ(want, got) << "vertical " << DspLevelName(level) << " trial " << t;
        }
        std::vector<uint8_t> pic(64 * 16, 100);
        time_it("deblock 64 columns", level, [&] { v.deblock_horizontal_edge(pic.data(), 64, 64, 8); });
        time_it("deblock 16 rows", level, [&] { v.deblock_vertical_edge(pic.data(), 64, 16, 8); });
    }
}

} // namespace
