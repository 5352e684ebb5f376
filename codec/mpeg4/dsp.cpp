#include "codec/mpeg4/dsp.h"

#include "codec/mpeg4/dsp_x86.h"
#include "codec/mpeg4/postfilter.h"

#include <algorithm>
#include <atomic>

namespace mpeg4 {

namespace {

void put_block_c(const int32_t* b, uint8_t* dst, int stride)
{
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x)
            dst[x] = static_cast<uint8_t>(std::clamp(b[8 * y + x], 0, 255));
}

void add_block_c(const int32_t* b, uint8_t* dst, int stride)
{
    for (int y = 0; y < 8; ++y, dst += stride)
        for (int x = 0; x < 8; ++x) {
            // In 64 bits: a hostile residual may sit at the edge of the int range.
            const int64_t v = int64_t{b[8 * y + x]} + dst[x];
            dst[x] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
        }
}

// Tables made on first use, so no static initialisation order is involved.
const Dsp& c_table()
{
    static const Dsp t = {
        {idct_512, idct_128}, mc_kernels_c(), put_block_c, add_block_c, deblock_horizontal_edge_c,
        deblock_vertical_edge_c,
    };
    return t;
}

#ifdef CAMCTL_MPEG4_X86
const Dsp& sse2_table()
{
    static const Dsp t = {
        {x86::idct_512_sse2, x86::idct_128_sse2}, x86::mc_kernels_sse2(),        x86::put_block_sse2,
        x86::add_block_sse2,                      x86::deblock_horizontal_edge_sse2, x86::deblock_vertical_edge_sse2,
    };
    return t;
}

// 256-bit lanes pay in the transform and the horizontal edges; the rest works on rows of 8 or
// 16 bytes, which SSE2 already covers.
const Dsp& avx2_table()
{
    static const Dsp t = {
        {x86::idct_512_avx2, x86::idct_128_avx2}, x86::mc_kernels_sse2(),        x86::put_block_sse2,
        x86::add_block_sse2,                      x86::deblock_horizontal_edge_avx2, x86::deblock_vertical_edge_sse2,
    };
    return t;
}
#endif

} // namespace

const char* DspLevelName(DspLevel level)
{
    switch (level) {
    case DspLevel::C: return "c";
    case DspLevel::Sse2: return "sse2";
    case DspLevel::Avx2: return "avx2";
    }
    return "?";
}

bool DspSupported(DspLevel level)
{
    if (level == DspLevel::C)
        return true;
#ifdef CAMCTL_MPEG4_X86
    __builtin_cpu_init();
    if (level == DspLevel::Sse2)
        return __builtin_cpu_supports("sse2");
    if (level == DspLevel::Avx2)
        return __builtin_cpu_supports("avx2");
#endif
    return false;
}

const Dsp& DspFor(DspLevel level)
{
#ifdef CAMCTL_MPEG4_X86
    if (level == DspLevel::Avx2 && DspSupported(level))
        return avx2_table();
    if (level == DspLevel::Sse2 && DspSupported(level))
        return sse2_table();
#endif
    (void)level;
    return c_table();
}

namespace {

DspLevel best_level()
{
    return DspSupported(DspLevel::Avx2) ? DspLevel::Avx2 : DspSupported(DspLevel::Sse2) ? DspLevel::Sse2 : DspLevel::C;
}

std::atomic<DspLevel> g_level{best_level()};

} // namespace

const Dsp& DspBest() { return DspFor(g_level.load(std::memory_order_relaxed)); }

bool DspForce(DspLevel level)
{
    if (!DspSupported(level))
        return false;
    g_level.store(level, std::memory_order_relaxed);
    return true;
}

} // namespace mpeg4
