// SSE2 kernels: x86-64's baseline, so this file is built with the default flags.
#include "codec/mpeg4/dsp_x86.h"

#ifdef CAMCTL_MPEG4_X86

#include "codec/mpeg4/dsp_x86_tmpl.h"

namespace mpeg4::x86 {

namespace {

template <int N>
DSP_INLINE __m128i load_row(const uint8_t* p)
{
    if constexpr (N == 16)
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    else
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int N>
DSP_INLINE void store_row(uint8_t* p, __m128i v)
{
    if constexpr (N == 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    else
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + 1 - rounding) >> 1: the rounded average, less one where a + b is odd and the
// rounding control asks for the lower value.
DSP_INLINE __m128i average(__m128i a, __m128i b, __m128i low)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), low));
}

template <int N>
void put_full(uint8_t* d, int ds, const uint8_t* s, int ss, int)
{
#pragma GCC unroll 16
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        store_row<N>(d, load_row<N>(s));
}

template <int N>
void put_h(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const __m128i low = _mm_set1_epi8(static_cast<char>(rounding));
#pragma GCC unroll 16
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        store_row<N>(d, average(load_row<N>(s), load_row<N>(s + 1), low));
}

template <int N>
void put_v(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const __m128i low = _mm_set1_epi8(static_cast<char>(rounding));
    __m128i above = load_row<N>(s);
    for (int y = 0; y < N; ++y, d += ds) {
        s += ss;
        const __m128i below = load_row<N>(s);
        store_row<N>(d, average(above, below, low));
        above = below;
    }
}

// Four samples in 16 bits; each row's horizontal pair sums serve two output rows.
template <int N>
void put_hv(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i add = _mm_set1_epi16(static_cast<short>(2 - rounding));
    auto pair_sums = [&](const uint8_t* p, __m128i& lo, __m128i& hi) {
        const __m128i a = load_row<N>(p), b = load_row<N>(p + 1);
        lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        if constexpr (N == 16)
            hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    };
    __m128i lo0, hi0 = zero, lo1, hi1 = zero;
    pair_sums(s, lo0, hi0);
    for (int y = 0; y < N; ++y, d += ds) {
        s += ss;
        pair_sums(s, lo1, hi1);
        const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo0, lo1), add), 2);
        if constexpr (N == 16) {
            const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi0, hi1), add), 2);
            store_row<N>(d, _mm_packus_epi16(lo, hi));
        } else {
            store_row<N>(d, _mm_packus_epi16(lo, lo));
        }
        lo0 = lo1;
        hi0 = hi1;
    }
}

constexpr McKernels kSse2Mc = {{
    {put_full<16>, put_h<16>, put_v<16>, put_hv<16>},
    {put_full<8>, put_h<8>, put_v<8>, put_hv<8>},
}};

} // namespace

void idct_512_sse2(int32_t* block, unsigned row_mask) { idct_lanes<kIdct512, idct_512>(block, row_mask); }
void idct_128_sse2(int32_t* block, unsigned row_mask) { idct_lanes<kIdct128, idct_128>(block, row_mask); }

const McKernels& mc_kernels_sse2() { return kSse2Mc; }

// Saturating to 16 bits first changes nothing: a residual beyond +-255 clamps the same either way.
void put_block_sse2(const int32_t* b, uint8_t* dst, int stride)
{
    for (int y = 0; y < 8; ++y, dst += stride, b += 8) {
        const __m128i w = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(w, w));
    }
}

void add_block_sse2(const int32_t* b, uint8_t* dst, int stride)
{
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y, dst += stride, b += 8) {
        const __m128i w = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4)));
        const __m128i px = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), zero);
        const __m128i sum = _mm_adds_epi16(w, px);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(sum, sum));
    }
}

void deblock_horizontal_edge_sse2(uint8_t* p, int stride, int count, int qp)
{
    deblock_horizontal_lanes(p, stride, count, qp);
}

namespace {

// 8x8 bytes, the low halves of in[0..7], transposed: out[m] holds rows 2m and 2m + 1.
DSP_INLINE void transpose_bytes(const __m128i* in, __m128i* out)
{
    const __m128i a0 = _mm_unpacklo_epi8(in[0], in[1]), a1 = _mm_unpacklo_epi8(in[2], in[3]);
    const __m128i a2 = _mm_unpacklo_epi8(in[4], in[5]), a3 = _mm_unpacklo_epi8(in[6], in[7]);
    const __m128i b0 = _mm_unpacklo_epi16(a0, a1), b1 = _mm_unpackhi_epi16(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi16(a2, a3), b3 = _mm_unpackhi_epi16(a2, a3);
    out[0] = _mm_unpacklo_epi32(b0, b2);
    out[1] = _mm_unpackhi_epi32(b0, b2);
    out[2] = _mm_unpacklo_epi32(b1, b3);
    out[3] = _mm_unpackhi_epi32(b1, b3);
}

} // namespace

// Eight rows at a time: their ten samples turned into lanes by a byte transpose, filtered like
// a horizontal edge, and s1 .. s8 turned back. Reads and writes only the ten samples of a row.
void deblock_vertical_edge_sse2(uint8_t* p, int stride, int count, int qp)
{
    const __m128i zero = _mm_setzero_si128();
    int r = 0;
    for (; r + 8 <= count; r += 8) {
        uint8_t* rows[8];
        __m128i in[8], t[4];
        alignas(16) uint16_t tail[8];
        for (int l = 0; l < 8; ++l) {
            rows[l] = p + static_cast<ptrdiff_t>(r + l) * stride;
            in[l] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[l]));
            tail[l] = static_cast<uint16_t>(rows[l][8] | rows[l][9] << 8);
        }
        transpose_bytes(in, t);
        W s[10];
        for (int m = 0; m < 4; ++m) {
            s[2 * m] = _mm_unpacklo_epi8(t[m], zero);
            s[2 * m + 1] = _mm_unpackhi_epi8(t[m], zero);
        }
        const __m128i last = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
        s[8] = _mm_and_si128(last, _mm_set1_epi16(0xFF));
        s[9] = _mm_srli_epi16(last, 8);
        filter_lanes(s, qp);
        for (int k = 0; k < 8; ++k)
            in[k] = _mm_packus_epi16(s[k + 1], s[k + 1]);
        transpose_bytes(in, t);
        for (int l = 0; l < 8; ++l)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[l] + 1), l & 1 ? _mm_unpackhi_epi64(t[l / 2], t[l / 2]) : t[l / 2]);
    }
    if (r < count)
        deblock_vertical_edge_c(p + static_cast<ptrdiff_t>(r) * stride, stride, count - r, qp);
}

} // namespace mpeg4::x86

#endif
