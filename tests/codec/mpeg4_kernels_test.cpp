// The stages on their own: bit reader, tables, transform, vectors,
// compensation, filter and doubling.
#include "codec/mpeg4/bitreader.h"
#include "codec/mpeg4/headers.h"
#include "codec/mpeg4/idct.h"
#include "codec/mpeg4/macroblock.h"
#include "codec/mpeg4/motion.h"
#include "codec/mpeg4/postfilter.h"
#include "codec/mpeg4/tables.h"
#include "codec/mpeg4/upscale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>

namespace {

using namespace mpeg4;

TEST(Mpeg4BitReader, reads_msb_first_and_latches_overrun_past_the_end)
{
    const uint8_t data[] = {0xA5, 0x0F, 0x80};
    BitReader br(data, sizeof data);
    EXPECT_EQ(br.peek(4), 0xAu);
    EXPECT_EQ(br.read(4), 0xAu);
    EXPECT_EQ(br.read(8), 0x50u);
    EXPECT_EQ(br.read(5), 0x1Fu);
    EXPECT_FALSE(br.overrun());
    EXPECT_EQ(br.read(7), 0u); // last 7 bits of the buffer, then nothing left
    EXPECT_FALSE(br.overrun());
    EXPECT_EQ(br.read(20), 0u); // zeros past the end
    EXPECT_TRUE(br.overrun());
    EXPECT_EQ(br.byte_at(3), 0);
}

// Every code table is prefix-free and as full as the standard makes it.
template <size_t N>
double kraft(const CodeValue (&t)[N], std::set<std::string>& words)
{
    double sum = 0;
    for (const CodeValue& c : t) {
        std::string s;
        for (int i = c.code.len - 1; i >= 0; --i)
            s += ((c.code.bits >> i) & 1) ? '1' : '0';
        words.insert(s);
        sum += std::ldexp(1.0, -c.code.len);
    }
    return sum;
}

bool prefix_free(const std::set<std::string>& words)
{
    for (const std::string& a : words)
        for (const std::string& b : words)
            if (a != b && b.compare(0, a.size(), a) == 0)
                return false;
    return true;
}

TEST(Mpeg4Tables, small_tables_are_prefix_free_with_the_standards_unused_space)
{
    struct Case {
        double kraft;
        std::set<std::string> words;
    };
    Case c[6];
    c[0].kraft = kraft(kMcbpcI, c[0].words);
    c[1].kraft = kraft(kMcbpcP, c[1].words);
    c[2].kraft = kraft(kCbpy, c[2].words);
    c[3].kraft = kraft(kMvd, c[3].words);
    c[4].kraft = kraft(kDcSizeLuma, c[4].words);
    c[5].kraft = kraft(kDcSizeChroma, c[5].words);
    // Unused: all-zero prefixes that keep start codes unique.
    const double expected[6] = {1 - 7 * std::ldexp(1.0, -9), 1 - std::ldexp(1.0, -9),
                                1 - std::ldexp(1.0, -5), 1 - std::ldexp(1.0, -11), 1 - std::ldexp(1.0, -11),
                                1 - std::ldexp(1.0, -12)};
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(prefix_free(c[i].words)) << i;
        EXPECT_DOUBLE_EQ(c[i].kraft, expected[i]) << i;
    }
}

TEST(Mpeg4Tables, coefficient_tables_share_one_prefix_free_code_set)
{
    std::set<std::string> intra, inter;
    for (int k = 0; k <= kCoefCodes; ++k) {
        for (int t = 0; t < 2; ++t) {
            Code c = k == kCoefCodes ? kCoefEscape : (t ? kIntraCodes[k] : kInterCodes[k]);
            std::string s;
            for (int i = c.len - 1; i >= 0; --i)
                s += ((c.bits >> i) & 1) ? '1' : '0';
            (t ? intra : inter).insert(s);
        }
    }
    EXPECT_EQ(intra.size(), static_cast<size_t>(kCoefCodes + 1));
    EXPECT_EQ(intra, inter);
    EXPECT_TRUE(prefix_free(intra));
    // Each (last, run, level) appears once.
    std::set<int> seen;
    for (const RunLevel& e : kIntraRunLevel)
        EXPECT_TRUE(seen.insert(e.last << 16 | e.run << 8 | e.level).second);
}

TEST(Mpeg4Tables, lmax_and_rmax_match_the_standards_values)
{
    const int intra_lmax0[15] = {27, 10, 5, 4, 3, 3, 3, 3, 2, 2, 1, 1, 1, 1, 1};
    const int intra_lmax1[21] = {8, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const int inter_lmax0[27] = {12, 6, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int r = 0; r < 15; ++r)
        EXPECT_EQ(kIntraMax.lmax[0][r], intra_lmax0[r]) << r;
    for (int r = 0; r < 21; ++r)
        EXPECT_EQ(kIntraMax.lmax[1][r], intra_lmax1[r]) << r;
    for (int r = 0; r < 27; ++r)
        EXPECT_EQ(kInterMax.lmax[0][r], inter_lmax0[r]) << r;
    EXPECT_EQ(kInterMax.lmax[1][0], 3);
    EXPECT_EQ(kInterMax.lmax[1][1], 2);
    EXPECT_EQ(kInterMax.lmax[1][40], 1);
    const int intra_rmax0[11] = {0, 14, 9, 7, 3, 2, 1, 1, 1, 1, 1};
    for (int l = 1; l < 11; ++l)
        EXPECT_EQ(kIntraMax.rmax[0][l], intra_rmax0[l]) << l;
    EXPECT_EQ(kIntraMax.rmax[1][1], 20);
    EXPECT_EQ(kIntraMax.rmax[1][2], 6);
    EXPECT_EQ(kIntraMax.rmax[1][3], 1);
    const int inter_rmax0[7] = {0, 26, 10, 6, 2, 1, 1};
    for (int l = 1; l < 7; ++l)
        EXPECT_EQ(kInterMax.rmax[0][l], inter_rmax0[l]) << l;
    EXPECT_EQ(kInterMax.rmax[1][1], 40);
    EXPECT_EQ(kInterMax.rmax[1][2], 1);
}

TEST(Mpeg4Tables, scans_are_permutations_and_the_alternates_are_transposes)
{
    for (const uint8_t* scan : {kZigzag, kAltVertical, kAltHorizontal}) {
        std::set<int> s(scan, scan + 64);
        EXPECT_EQ(s.size(), 64u);
    }
    for (int i = 0; i < 64; ++i) {
        int v = kAltVertical[i];
        EXPECT_EQ(kAltHorizontal[i], (v % 8) * 8 + v / 8) << i;
    }
}

TEST(Mpeg4Tables, lookups_decode_every_code_and_reject_the_all_zero_prefix)
{
    for (const CodeValue& c : kMvd) {
        VlcSlot s = kMvdLookup[c.code.bits << (kMvdBits - c.code.len)];
        EXPECT_EQ(s.len, c.code.len);
        EXPECT_EQ(s.value, c.value);
    }
    EXPECT_EQ(kMvdLookup[0].len, 0);
    EXPECT_EQ(kIntraLookup[0].len, 0);
    EXPECT_EQ(kInterLookup[0].len, 0);
    EXPECT_EQ(kMcbpcPLookup[0].len, 0);
    CoefSlot esc = kInterLookup[kCoefEscape.bits << (kCoefBits - kCoefEscape.len)];
    EXPECT_EQ(esc.last, 2);
}

// Double-precision reference of the 8x8 inverse DCT.
void reference_idct(const int32_t* in, double* out)
{
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double cu = u ? 1 : M_SQRT1_2, cv = v ? 1 : M_SQRT1_2;
                    s += cu * cv * in[8 * v + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                         std::cos((2 * y + 1) * v * M_PI / 16);
                }
            out[8 * y + x] = s / 4;
        }
}

TEST(Mpeg4Idct, both_constant_sets_track_the_exact_transform_at_their_precision)
{
    std::mt19937 rng(7);
    struct Run {
        IdctFn fn;
        double max_err, mean_err;
    } runs[2] = {{idct_512, 1.0, 0.04}, {idct_128, 3.0, 0.25}};
    for (const Run& r : runs) {
        double worst = 0, total = 0;
        const int trials = 2000;
        for (int t = 0; t < trials; ++t) {
            int32_t blk[64] = {};
            std::uniform_int_distribution<int> level(-256, 255), pos(0, 63);
            int n = 1 + t % 12;
            for (int i = 0; i < n; ++i)
                blk[pos(rng)] = level(rng);
            double ref[64];
            reference_idct(blk, ref);
            r.fn(blk, 0xFF);
            for (int i = 0; i < 64; ++i) {
                double e = std::fabs(blk[i] - std::round(ref[i]));
                worst = std::max(worst, e);
                total += e;
            }
        }
        std::printf("[ idct ] worst %.0f mean %.4f\n", worst, total / (64.0 * trials));
        EXPECT_LE(worst, r.max_err);
        EXPECT_LE(total / (64.0 * trials), r.mean_err);
    }
}

TEST(Mpeg4Idct, row_mask_skips_only_zero_rows)
{
    std::mt19937 rng(3);
    for (IdctFn fn : {idct_512, idct_128}) {
        for (int t = 0; t < 200; ++t) {
            int32_t a[64] = {}, b[64];
            unsigned mask = 0;
            for (int i = 0; i < 64; ++i)
                if (rng() % 5 == 0 && (i >> 3) != 4) {
                    a[i] = static_cast<int>(rng() % 2001) - 1000;
                    mask |= 1u << (i >> 3);
                }
            std::copy(a, a + 64, b);
            fn(a, 0xFF);
            fn(b, mask);
            EXPECT_TRUE(std::equal(a, a + 64, b));
        }
    }
}

TEST(Mpeg4Motion, predictor_follows_candidate_validity_at_the_picture_edges)
{
    const int cols = 4;
    std::vector<Mv> grid(cols * 2 * 4, Mv{0, 0});
    auto at = [&](int x, int y, int b) -> Mv& { return grid[(y * cols + x) * 4 + b]; };
    // Row 0: no candidate in column 0, only the left one further on.
    at(2, 0, 1) = {6, -4};
    EXPECT_EQ(predict_mv(grid.data(), cols, 0, 0, 0).x, 0);
    Mv p = predict_mv(grid.data(), cols, 3, 0, 0);
    EXPECT_EQ(p.x, 6);
    EXPECT_EQ(p.y, -4);
    // Inside: median of left, upper and upper-right.
    at(0, 1, 1) = {2, 9};
    at(1, 0, 2) = {-3, 1};
    at(2, 0, 2) = {5, 4};
    p = predict_mv(grid.data(), cols, 1, 1, 0);
    EXPECT_EQ(p.x, 2);
    EXPECT_EQ(p.y, 4);
    // Last column: the upper-right candidate counts as 0.
    at(2, 1, 1) = {8, 8};
    at(3, 0, 2) = {4, 2};
    p = predict_mv(grid.data(), cols, 3, 1, 0);
    EXPECT_EQ(p.x, 4);
    EXPECT_EQ(p.y, 2);
    // Block 1 in row 0: only its own macroblock's block 0 is valid.
    at(1, 0, 0) = {-7, 3};
    p = predict_mv(grid.data(), cols, 1, 0, 1);
    EXPECT_EQ(p.x, -7);
    EXPECT_EQ(p.y, 3);
}

uint32_t mvd_bits(int value, int* len)
{
    for (const CodeValue& c : kMvd)
        if (c.value == value) {
            *len = c.code.len;
            return c.code.bits;
        }
    *len = 0;
    return 0;
}

TEST(Mpeg4Motion, vectors_wrap_into_the_fcode_range)
{
    // fcode 1: -30 plus a difference of -5 wraps to 29.
    int len;
    uint32_t code = mvd_bits(-5, &len);
    uint8_t buf[4] = {static_cast<uint8_t>(code << (8 - len)), 0, 0, 0};
    BitReader br(buf, sizeof buf);
    int v = 0;
    ASSERT_TRUE(decode_mv_component(br, 1, -30, &v));
    EXPECT_EQ(v, 29);
    // fcode 3 (f 4): code -2 with residual 3 gives -((2 - 1) * 4 + 3 + 1) = -8.
    code = mvd_bits(-2, &len);
    uint32_t word = (code << 2 | 3) << (32 - len - 2);
    uint8_t buf2[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16), 0, 0};
    BitReader br2(buf2, sizeof buf2);
    ASSERT_TRUE(decode_mv_component(br2, 3, 2, &v));
    EXPECT_EQ(v, -6);
    // Range of fcode 3 is [-128, 127].
    BitReader br3(buf2, sizeof buf2);
    ASSERT_TRUE(decode_mv_component(br3, 3, -125, &v));
    EXPECT_EQ(v, -133 + 256);
}

TEST(Mpeg4Motion, chroma_vectors_round_towards_half_samples)
{
    EXPECT_EQ(chroma_from_one(1), 1);
    EXPECT_EQ(chroma_from_one(4), 2);
    EXPECT_EQ(chroma_from_one(-5), -3);
    EXPECT_EQ(chroma_from_one(0), 0);
    EXPECT_EQ(chroma_from_four(3), 1);
    EXPECT_EQ(chroma_from_four(2), 0);
    EXPECT_EQ(chroma_from_four(-14), -2);
    EXPECT_EQ(chroma_from_four(16), 2);
    EXPECT_EQ(chroma_from_four(-31), -4);
}

TEST(Mpeg4Motion, half_sample_averages_honour_rounding_control)
{
    // Reference with a border: 8x8 picture, 32 border.
    const int stride = 8 + 64;
    std::vector<uint8_t> ref(stride * (8 + 64), 0);
    uint8_t* origin = ref.data() + 32 * stride + 32;
    origin[0] = 10;
    origin[1] = 11;
    origin[stride] = 12;
    origin[stride + 1] = 13; // sum 46: the two roundings differ
    uint8_t dst[8 * 8];
    predict_block(mc_kernels_c(), dst, 8, origin, stride, 8, 8, 32, 1, 1, 8, 0);
    EXPECT_EQ(dst[0], (46 + 2) >> 2);
    predict_block(mc_kernels_c(), dst, 8, origin, stride, 8, 8, 32, 1, 1, 8, 1);
    EXPECT_EQ(dst[0], (46 + 1) >> 2);
    predict_block(mc_kernels_c(), dst, 8, origin, stride, 8, 8, 32, 1, 0, 8, 0);
    EXPECT_EQ(dst[0], 11);
    predict_block(mc_kernels_c(), dst, 8, origin, stride, 8, 8, 32, 1, 0, 8, 1);
    EXPECT_EQ(dst[0], 10);
}

TEST(Mpeg4Motion, far_vectors_are_clamped_inside_the_border)
{
    const int w = 16, h = 16, stride = w + 64;
    std::vector<uint8_t> ref(stride * (h + 64), 77);
    uint8_t* origin = ref.data() + 32 * stride + 32;
    uint8_t dst[16 * 16];
    // Far beyond every edge: the clamped read stays inside the allocation
    // (ASan checks) and sees only border samples.
    for (int px : {-4000, 4000})
        for (int py : {-4000, 4001}) {
            predict_block(mc_kernels_c(), dst, 16, origin, stride, w, h, 32, px, py, 16, 0);
            EXPECT_EQ(dst[0], 77);
            EXPECT_EQ(dst[255], 77);
        }
}

TEST(Mpeg4Quant, dc_scaler_and_rounded_division_follow_table_7_1)
{
    EXPECT_EQ(dc_scaler(31, false), 46);
    EXPECT_EQ(dc_scaler(31, true), 25);
    EXPECT_EQ(dc_scaler(4, false), 8);
    EXPECT_EQ(dc_scaler(4, true), 8);
    EXPECT_EQ(dc_scaler(6, false), 12);
    EXPECT_EQ(dc_scaler(12, false), 20);
    EXPECT_EQ(dc_scaler(6, true), 9);
    EXPECT_EQ(dc_scaler(25, false), 34);
    EXPECT_EQ(dc_scaler(25, true), 19);
    EXPECT_EQ(div_round(1024, 8), 128);
    EXPECT_EQ(div_round(12, 8), 2);
    EXPECT_EQ(div_round(-12, 8), -2);
    EXPECT_EQ(div_round(-11, 8), -1);
}

TEST(Mpeg4Headers, time_increment_width_covers_the_resolution)
{
    EXPECT_EQ(time_increment_bits(30), 5);
    EXPECT_EQ(time_increment_bits(32), 5);
    EXPECT_EQ(time_increment_bits(1), 1);
    EXPECT_EQ(time_increment_bits(1000), 10);
    EXPECT_EQ(time_increment_bits(15), 4);
    EXPECT_EQ(time_increment_bits(16), 4);
    EXPECT_EQ(time_increment_bits(17), 5);
    EXPECT_EQ(time_increment_bits(40000), 16);
    EXPECT_EQ(time_increment_bits(0), 1);
}

TEST(Mpeg4Postfilter, flat_and_strong_step_sets_are_left_alone)
{
    uint8_t flat[10];
    std::fill(flat, flat + 10, 90);
    deblock_set(flat, 1, 12);
    for (uint8_t v : flat)
        EXPECT_EQ(v, 90);
    uint8_t step[10] = {0, 0, 0, 0, 0, 200, 200, 200, 200, 200};
    deblock_set(step, 1, 4);
    EXPECT_EQ(step[4], 0);
    EXPECT_EQ(step[5], 200);
}

TEST(Mpeg4Postfilter, modes_smooth_small_steps)
{
    // DC offset mode: a one-level step between flat runs is spread out.
    uint8_t s[10] = {50, 50, 50, 50, 50, 52, 52, 52, 52, 52};
    deblock_set(s, 1, 4);
    EXPECT_EQ(s[4], (50 + 50 + 2 * 50 + 2 * 50 + 4 * 50 + 2 * 52 + 2 * 52 + 52 + 52 + 8) >> 4);
    EXPECT_EQ(s[1], (6 * 50 + 4 * 50 + 2 * 50 + 2 * 50 + 50 + 52 + 8) >> 4);
    // Default mode on a textured set: only s4 and s5 move, towards each other.
    uint8_t t[10] = {10, 30, 10, 30, 40, 60, 30, 10, 30, 10};
    deblock_set(t, 1, 20);
    int a0 = 5 * (60 - 40) + 2 * (30 - 30);
    int a1 = 5 * (30 - 10) + 2 * (30 - 40);
    int a2 = 5 * (10 - 30) + 2 * (60 - 30);
    int m = std::min(std::abs(a1), std::abs(a2));
    int d = -((5 * (a0 - m) + 32) >> 6);
    d = std::clamp(d, -((60 - 40) >> 1), 0);
    EXPECT_EQ(t[4], 40 - d);
    EXPECT_EQ(t[5], 60 + d);
    EXPECT_EQ(t[3], 30);
    EXPECT_EQ(t[6], 30);
}

TEST(Mpeg4Postfilter, edges_follow_the_block_grid)
{
    // A 16x16 picture has one horizontal (row 8) and one vertical (column 8) edge.
    std::vector<uint8_t> pic(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            pic[y * 16 + x] = static_cast<uint8_t>((y >= 8 ? 2 : 0) + (x >= 8 ? 4 : 0) + 100);
    std::vector<uint8_t> orig = pic;
    deblock_luma(pic.data(), 16, 16, 16, 8);
    EXPECT_NE(pic[7 * 16 + 2], orig[7 * 16 + 2]); // across row 8
    EXPECT_NE(pic[2 * 16 + 7], orig[2 * 16 + 7]); // across column 8
    EXPECT_EQ(pic[0], orig[0]);                   // outside both windows
    // Eight rows: only vertical edges.
    std::vector<uint8_t> low(16 * 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            low[y * 16 + x] = static_cast<uint8_t>(100 + (x >= 8 ? 2 : 0) + (y >= 4 ? 2 : 0));
    std::vector<uint8_t> lo = low;
    deblock_luma(low.data(), 16, 16, 8, 8);
    EXPECT_EQ(low[4 * 16 + 1], lo[4 * 16 + 1]);
    EXPECT_NE(low[0 * 16 + 7], lo[0 * 16 + 7]);
}

TEST(Mpeg4Postfilter, viewer_strength_is_smoothed_across_p_pictures)
{
    set_smoothed_strength(0);
    EXPECT_EQ(viewer_filter_strength(1, 10), 2);
    EXPECT_EQ(smoothed_strength(), 2);
    EXPECT_EQ(viewer_filter_strength(1, 10), 3);
    EXPECT_EQ(viewer_filter_strength(0, 10), 8);
    EXPECT_EQ(smoothed_strength(), 3);
    EXPECT_EQ(viewer_filter_strength(2, 10), 4); // other types count as P
    set_smoothed_strength(0);
}

TEST(Mpeg4Upscale, doubling_keeps_source_samples_and_interpolates_between)
{
    const int w = 16, h = 16;
    std::vector<uint8_t> src(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            src[y * w + x] = static_cast<uint8_t>(8 * x + 3 * y);
    std::vector<uint8_t> dst(4 * w * h);
    double_plane(src.data(), w, w, h, 16, dst.data());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(dst[(2 * y) * 2 * w + 2 * x], src[y * w + x]);
    // On a linear ramp the six-tap half sample is the midpoint.
    EXPECT_EQ(dst[(2 * 5) * 2 * w + 2 * 5 + 1], (src[5 * w + 5] + src[5 * w + 6]) / 2);
    // A 0 / 255 step: the half sample on the step is 127, and the overshoot
    // next to it keeps only its low 8 bits, (9 * 510 - 0 - 255) >> 4 = 270 -> 14.
    std::vector<uint8_t> edge(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            edge[y * w + x] = x >= 8 ? 255 : 0;
    double_plane(edge.data(), w, w, h, 16, dst.data());
    EXPECT_EQ(dst[2 * 6 + 1], 240); // (0 - 255) >> 4 = -16
    EXPECT_EQ(dst[2 * 7 + 1], 127);
    EXPECT_EQ(dst[2 * 8 + 1], 14);
    EXPECT_EQ(dst[2 * 9 + 1], 14);
    EXPECT_EQ(dst[2 * 10 + 1], 255);
}

} // namespace
