#include "codec/mpeg4/postfilter.h"

#include "codec/mpeg4/dsp.h"

#include <algorithm>
#include <cstddef>
#include <atomic>
#include <cstdlib>

namespace mpeg4 {

namespace {

constexpr int kThr1 = 2;
constexpr int kThr2 = 6;

// Smoothed strength S of the viewer; one per process, every decoder
// instance updates it.
std::atomic<int> g_smoothed{0};

} // namespace

namespace {

template <int Step>
inline void filter_set(uint8_t* p, int step_rt, int qp)
{
    const int step = Step ? Step : step_rt;
    int s[10];
    for (int i = 0; i < 10; ++i)
        s[i] = p[i * step];
    int flat = 0;
    for (int i = 0; i < 9; ++i)
        flat += std::abs(s[i] - s[i + 1]) <= kThr1;

    if (flat < kThr2) {
        int a0 = 5 * (s[5] - s[4]) + 2 * (s[3] - s[6]);
        if (std::abs(a0) >= 8 * qp)
            return;
        int a1 = 5 * (s[3] - s[2]) + 2 * (s[1] - s[4]);
        int a2 = 5 * (s[7] - s[6]) + 2 * (s[5] - s[8]);
        int m = std::min(std::abs(a1), std::abs(a2));
        if (std::abs(a0) <= m)
            return;
        int d = (5 * (std::abs(a0) - m) + 32) >> 6;
        if (a0 > 0)
            d = -d;
        if (s[4] >= s[5])
            d = std::clamp(d, 0, (s[4] - s[5]) >> 1);
        else
            d = std::clamp(d, -((s[5] - s[4]) >> 1), 0);
        p[4 * step] = static_cast<uint8_t>(s[4] - d);
        p[5 * step] = static_cast<uint8_t>(s[5] + d);
        return;
    }

    int mx = s[1], mn = s[1];
    for (int i = 2; i <= 8; ++i) {
        mx = std::max(mx, s[i]);
        mn = std::min(mn, s[i]);
    }
    if (mx - mn >= 2 * qp)
        return;
    int pm = std::abs(s[1] - s[0]) < qp ? s[0] : s[1];
    int pM = std::abs(s[8] - s[9]) < qp ? s[9] : s[8];
    // ext[k + 3] is p(k) for k = -3 .. 12: s1..s8 with the pads outside.
    int ext[16];
    for (int k = -3; k <= 12; ++k)
        ext[k + 3] = k < 1 ? pm : k > 8 ? pM : s[k];
    static constexpr int kTaps[9] = {1, 1, 2, 2, 4, 2, 2, 1, 1};
    for (int n = 1; n <= 8; ++n) {
        int acc = 8;
        for (int t = 0; t < 9; ++t)
            acc += kTaps[t] * ext[n - 4 + t + 3];
        p[n * step] = static_cast<uint8_t>(acc >> 4);
    }
}

} // namespace

void deblock_set(uint8_t* p, int step, int qp)
{
    if (step == 1)
        filter_set<1>(p, 1, qp);
    else
        filter_set<0>(p, step, qp);
}

void deblock_horizontal_edge_c(uint8_t* p, int stride, int count, int qp)
{
    for (int x = 0; x < count; ++x)
        filter_set<0>(p + x, stride, qp);
}

void deblock_vertical_edge_c(uint8_t* p, int stride, int count, int qp)
{
    for (int r = 0; r < count; ++r)
        filter_set<1>(p + static_cast<ptrdiff_t>(r) * stride, 1, qp);
}

// The sets along one edge are independent; one edge sees what the edges before it changed.
void deblock_luma(uint8_t* y, int stride, int width, int height, int qp, const Dsp* dsp)
{
    const DeblockFn across_rows = dsp ? dsp->deblock_horizontal_edge : deblock_horizontal_edge_c;
    const DeblockFn across_columns = dsp ? dsp->deblock_vertical_edge : deblock_vertical_edge_c;
    if (height >= 9) {
        for (int row = 8; row + 4 < height; row += 8)
            across_rows(y + static_cast<ptrdiff_t>(row - 5) * stride, stride, width, qp);
    }
    for (int col = 8; col + 4 < width; col += 8)
        across_columns(y + col - 5, stride, height, qp);
}

int viewer_filter_strength(int coding_type, int vop_quant)
{
    if (coding_type == 0)
        return g_smoothed.load(std::memory_order_relaxed) + 5;
    int cur = g_smoothed.load(std::memory_order_relaxed);
    int next;
    do {
        next = (vop_quant + 4 * cur) / 5;
    } while (!g_smoothed.compare_exchange_weak(cur, next, std::memory_order_relaxed));
    return next;
}

int smoothed_strength() { return g_smoothed.load(std::memory_order_relaxed); }
void set_smoothed_strength(int s) { g_smoothed.store(s, std::memory_order_relaxed); }

} // namespace mpeg4
