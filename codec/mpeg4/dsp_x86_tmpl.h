// Kernels written once over a vector of eight 32-bit lanes (the transform) and one of 16-bit
// lanes (the post-filter), included by dsp_sse2.cpp (two SSE2 registers, eight 16-bit lanes)
// and dsp_avx2.cpp (one AVX2 register, sixteen 16-bit lanes). Everything here has internal
// linkage, so the two builds of it never meet.
#pragma once

#include "codec/mpeg4/idct.h"
#include "codec/mpeg4/postfilter.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace mpeg4::x86 {
namespace {

#define DSP_INLINE inline __attribute__((always_inline))

// ---- eight 32-bit lanes -------------------------------------------------------------------

#ifdef __AVX2__
struct V8 {
    __m256i v;
};
DSP_INLINE V8 load8(const int32_t* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
DSP_INLINE void store8(int32_t* p, V8 a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a.v); }
DSP_INLINE V8 splat(int k) { return {_mm256_set1_epi32(k)}; }
DSP_INLINE V8 operator+(V8 a, V8 b) { return {_mm256_add_epi32(a.v, b.v)}; }
DSP_INLINE V8 operator-(V8 a, V8 b) { return {_mm256_sub_epi32(a.v, b.v)}; }
DSP_INLINE V8 operator|(V8 a, V8 b) { return {_mm256_or_si256(a.v, b.v)}; }
// Lanes 1 .. 7 of a.
DSP_INLINE V8 past_first(V8 a) { return {_mm256_blend_epi32(a.v, _mm256_setzero_si256(), 1)}; }
// Lanes 4 .. 7 of a.
DSP_INLINE V8 upper_half(V8 a) { return {_mm256_blend_epi32(a.v, _mm256_setzero_si256(), 0x0F)}; }
DSP_INLINE V8 mul(V8 a, int k) { return {_mm256_mullo_epi32(a.v, _mm256_set1_epi32(k))}; }
template <int N>
DSP_INLINE V8 sra(V8 a)
{
    return {_mm256_srai_epi32(a.v, N)};
}
DSP_INLINE V8 outside(V8 a, int bound)
{
    return {_mm256_or_si256(_mm256_cmpgt_epi32(a.v, _mm256_set1_epi32(bound)),
                            _mm256_cmpgt_epi32(_mm256_set1_epi32(-bound), a.v))};
}
// Whether any bit is set (of a mask, or of any value).
DSP_INLINE bool any(V8 m) { return !_mm256_testz_si256(m.v, m.v); }
DSP_INLINE void transpose(V8* r)
{
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i].v, r[i + 1].v);
        t[i + 1] = _mm256_unpackhi_epi32(r[i].v, r[i + 1].v);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i].v = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        r[i + 4].v = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}
#else
struct V8 {
    __m128i lo, hi;
};
DSP_INLINE V8 load8(const int32_t* p)
{
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4))};
}
DSP_INLINE void store8(int32_t* p, V8 a)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a.lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), a.hi);
}
DSP_INLINE V8 splat(int k) { return {_mm_set1_epi32(k), _mm_set1_epi32(k)}; }
DSP_INLINE V8 operator+(V8 a, V8 b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
DSP_INLINE V8 operator-(V8 a, V8 b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
DSP_INLINE V8 operator|(V8 a, V8 b) { return {_mm_or_si128(a.lo, b.lo), _mm_or_si128(a.hi, b.hi)}; }
DSP_INLINE V8 past_first(V8 a) { return {_mm_and_si128(a.lo, _mm_set_epi32(-1, -1, -1, 0)), a.hi}; }
DSP_INLINE V8 upper_half(V8 a) { return {_mm_setzero_si128(), a.hi}; }
// SSE2 has no 32-bit low multiply: two unsigned 32x32->64 ones, whose low halves are the same.
DSP_INLINE __m128i mul32(__m128i a, __m128i k)
{
    const __m128i even = _mm_mul_epu32(a, k);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), k);
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}
DSP_INLINE V8 mul(V8 a, int k)
{
    const __m128i kk = _mm_set1_epi32(k);
    return {mul32(a.lo, kk), mul32(a.hi, kk)};
}
template <int N>
DSP_INLINE V8 sra(V8 a)
{
    return {_mm_srai_epi32(a.lo, N), _mm_srai_epi32(a.hi, N)};
}
DSP_INLINE __m128i outside4(__m128i a, int bound)
{
    return _mm_or_si128(_mm_cmpgt_epi32(a, _mm_set1_epi32(bound)), _mm_cmpgt_epi32(_mm_set1_epi32(-bound), a));
}
DSP_INLINE V8 outside(V8 a, int bound) { return {outside4(a.lo, bound), outside4(a.hi, bound)}; }
// Whether any bit is set (of a mask, or of any value).
DSP_INLINE bool any(V8 m)
{
    return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_or_si128(m.lo, m.hi), _mm_setzero_si128())) != 0xFFFF;
}
DSP_INLINE void transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d)
{
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
    const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t2);
    b = _mm_unpackhi_epi64(t0, t2);
    c = _mm_unpacklo_epi64(t1, t3);
    d = _mm_unpackhi_epi64(t1, t3);
}
DSP_INLINE void transpose(V8* r)
{
    // Four 4x4 quarters; the off-diagonal ones swap places.
    transpose4(r[0].lo, r[1].lo, r[2].lo, r[3].lo);
    transpose4(r[4].hi, r[5].hi, r[6].hi, r[7].hi);
    transpose4(r[0].hi, r[1].hi, r[2].hi, r[3].hi);
    transpose4(r[4].lo, r[5].lo, r[6].lo, r[7].lo);
    for (int i = 0; i < 4; ++i) {
        const __m128i t = r[i].hi;
        r[i].hi = r[i + 4].lo;
        r[i + 4].lo = t;
    }
}
#endif

// ---- inverse transform --------------------------------------------------------------------
//
// The plain transform works in 64 bits; these lanes have 32. Sums and products wrap alike in
// both, so only two things must hold for the same result: the row and column rotations'
// products and shifts see their true values, and the final sums fit. The bounds below make
// sure of both, from the inputs, the row rotations and the row outputs as they are; a block
// beyond any of them (never one of a real stream) goes to the plain transform whole.
//   inputs |x| <= 2^19: row sums stay below 2^31 (at most 1393 + 1312 times the input).
//   row rotation: |rot * u| + 2^(shift-1) < 2^31.
//   column: even rows (E terms, at most 1393 times) and odd rows (at most 1856 times, the
//   rotation included) together below 2^31 - 2^(2 shift - 1).

struct IdctConsts {
    int c1, c7, c3, c5, c2, c6, c4, rot, shift;
    int row_rot_max, column_even_max, column_odd_max;
};
constexpr int kIdctInputMax = 1 << 19;
// 724 * 2,900,000 < 2^31 - 512; 1393 * 2^20 + 1856 * 360,000 < 2^31 - 2^19.
constexpr IdctConsts kIdct512 = {502, 100, 426, 284, 473, 196, 362, 724, 10, 2900000, 1 << 20, 360000};
// 181 * 11,800,000 < 2^31 - 128; 349 * 2^22 + 464 * 1,400,000 < 2^31 - 2^15.
constexpr IdctConsts kIdct128 = {126, 25, 106, 71, 118, 49, 91, 181, 8, 11800000, 1 << 22, 1400000};

// Low: x[4] .. x[7] are zero, and their products are left out (the same sums).
template <const IdctConsts& K, bool Column, bool Low>
DSP_INLINE void butterfly(const V8* x, V8* y, V8& rot_inputs)
{
    V8 a, b, c, d, p, q, r, s;
    if constexpr (Low) {
        a = b = mul(x[0], K.c4);
        c = mul(x[2], K.c2);
        d = mul(x[2], K.c6);
        p = mul(x[1], K.c1);
        q = mul(x[1], K.c7);
        r = mul(x[3], K.c3);
        s = splat(0) - mul(x[3], K.c5);
    } else {
        a = mul(x[0] + x[4], K.c4);
        b = mul(x[0] - x[4], K.c4);
        c = mul(x[2], K.c2) + mul(x[6], K.c6);
        d = mul(x[2], K.c6) - mul(x[6], K.c2);
        p = mul(x[1], K.c1) + mul(x[7], K.c7);
        q = mul(x[1], K.c7) - mul(x[7], K.c1);
        r = mul(x[3], K.c3) + mul(x[5], K.c5);
        s = mul(x[5], K.c3) - mul(x[3], K.c5);
    }
    const V8 e0 = a + c, e3 = a - c, e1 = b + d, e2 = b - d;
    const V8 u = p - r + q - s, v = p - r - q + s;
    V8 o1, o2;
    if constexpr (Column) {
        o1 = mul(sra<K.shift>(u), K.rot) + splat(128);
        o2 = mul(sra<K.shift>(v), K.rot) + splat(128);
    } else {
        rot_inputs = outside(u, K.row_rot_max) | outside(v, K.row_rot_max);
        o1 = sra<K.shift>(mul(u, K.rot) + splat(1 << (K.shift - 1)));
        o2 = sra<K.shift>(mul(v, K.rot) + splat(1 << (K.shift - 1)));
    }
    const V8 o0 = p + r, o3 = q + s;
    y[0] = e0 + o0;
    y[7] = e0 - o0;
    y[1] = e1 + o1;
    y[6] = e1 - o1;
    y[2] = e2 + o2;
    y[5] = e2 - o2;
    y[3] = e3 + o3;
    y[4] = e3 - o3;
}

template <const IdctConsts& K, IdctFn Plain>
DSP_INLINE void idct_lanes(int32_t* block, unsigned row_mask)
{
    constexpr int kFinal = 2 * K.shift;
    V8 x[8];
    V8 bad = splat(0), ac = splat(0), high = splat(0);
    for (int i = 0; i < 8; ++i) {
        x[i] = load8(block + 8 * i);
        bad = bad | outside(x[i], kIdctInputMax);
        ac = ac | (i ? x[i] : past_first(x[i]));
        high = high | (i >= 4 ? x[i] : upper_half(x[i]));
    }
    if (!any(ac)) {
        // DC alone, as common as any block: the full transform reduces to the column
        // rotation's rounding constant, in 64 bits like the plain one.
        const int64_t e = int64_t{K.c4} * K.c4 * block[0] + (int64_t{1} << (kFinal - 1));
        const V8 mid = splat(static_cast<int32_t>(e >> kFinal));
        const V8 up = splat(static_cast<int32_t>((e + 128) >> kFinal));
        const V8 down = splat(static_cast<int32_t>((e - 128) >> kFinal));
        const V8 rows[8] = {mid, up, up, mid, mid, down, down, mid};
        for (int i = 0; i < 8; ++i)
            store8(block + 8 * i, rows[i]);
        return;
    }
    if (any(bad))
        return Plain(block, row_mask);
    // Coefficients only in the top-left quarter, as in most blocks: half the products.
    const bool low = !any(high);
    transpose(x); // x[k]: coefficient k of every row
    V8 rows[8];
    if (low)
        butterfly<K, false, true>(x, rows, bad);
    else
        butterfly<K, false, false>(x, rows, bad);
    if (any(bad))
        return Plain(block, row_mask);
    transpose(rows); // rows[i]: row i of the row pass, by column; rows 4 .. 7 zero when low
    bad = outside(rows[0], K.column_even_max) | outside(rows[2], K.column_even_max) |
          outside(rows[4], K.column_even_max) | outside(rows[6], K.column_even_max) |
          outside(rows[1], K.column_odd_max) | outside(rows[3], K.column_odd_max) |
          outside(rows[5], K.column_odd_max) | outside(rows[7], K.column_odd_max);
    if (any(bad))
        return Plain(block, row_mask);
    V8 out[8], unused;
    if (low)
        butterfly<K, true, true>(rows, out, unused);
    else
        butterfly<K, true, false>(rows, out, unused);
    for (int i = 0; i < 8; ++i)
        store8(block + 8 * i, sra<kFinal>(out[i] + splat(1 << (kFinal - 1))));
}

// ---- sixteen-bit lanes for the post-filter ------------------------------------------------

#ifdef __AVX2__
using W = __m256i;
constexpr int kWLanes = 16;
DSP_INLINE W w_set(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
DSP_INLINE W w_zero() { return _mm256_setzero_si256(); }
DSP_INLINE W w_add(W a, W b) { return _mm256_add_epi16(a, b); }
DSP_INLINE W w_sub(W a, W b) { return _mm256_sub_epi16(a, b); }
DSP_INLINE W w_abs(W a) { return _mm256_abs_epi16(a); }
DSP_INLINE W w_min(W a, W b) { return _mm256_min_epi16(a, b); }
DSP_INLINE W w_max(W a, W b) { return _mm256_max_epi16(a, b); }
DSP_INLINE W w_gt(W a, W b) { return _mm256_cmpgt_epi16(a, b); }
DSP_INLINE W w_and(W a, W b) { return _mm256_and_si256(a, b); }
DSP_INLINE W w_andnot(W a, W b) { return _mm256_andnot_si256(a, b); }
DSP_INLINE W w_sel(W m, W a, W b) { return _mm256_blendv_epi8(b, a, m); }
template <int N>
DSP_INLINE W w_sra(W a)
{
    return _mm256_srai_epi16(a, N);
}
template <int N>
DSP_INLINE W w_sll(W a)
{
    return _mm256_slli_epi16(a, N);
}
DSP_INLINE W w_load(const uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
DSP_INLINE void w_store(uint8_t* p, W a)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_packus_epi16(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1)));
}
#else
using W = __m128i;
constexpr int kWLanes = 8;
DSP_INLINE W w_set(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
DSP_INLINE W w_zero() { return _mm_setzero_si128(); }
DSP_INLINE W w_add(W a, W b) { return _mm_add_epi16(a, b); }
DSP_INLINE W w_sub(W a, W b) { return _mm_sub_epi16(a, b); }
DSP_INLINE W w_min(W a, W b) { return _mm_min_epi16(a, b); }
DSP_INLINE W w_max(W a, W b) { return _mm_max_epi16(a, b); }
DSP_INLINE W w_abs(W a) { return _mm_max_epi16(a, _mm_sub_epi16(_mm_setzero_si128(), a)); }
DSP_INLINE W w_gt(W a, W b) { return _mm_cmpgt_epi16(a, b); }
DSP_INLINE W w_and(W a, W b) { return _mm_and_si128(a, b); }
DSP_INLINE W w_andnot(W a, W b) { return _mm_andnot_si128(a, b); }
DSP_INLINE W w_sel(W m, W a, W b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
template <int N>
DSP_INLINE W w_sra(W a)
{
    return _mm_srai_epi16(a, N);
}
template <int N>
DSP_INLINE W w_sll(W a)
{
    return _mm_slli_epi16(a, N);
}
DSP_INLINE W w_load(const uint8_t* p)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
DSP_INLINE void w_store(uint8_t* p, W a) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(a, a)); }
#endif

DSP_INLINE W w_times5(W a) { return w_add(w_sll<2>(a), a); }

// One ten-sample set per lane, s[0] .. s[9], the plain filter_set's arithmetic with masks for
// its branches. Samples are 0..255, so every sum fits 16 bits.
DSP_INLINE void filter_lanes(W* s, int qp_value)
{
    const W qp = w_set(qp_value);
    const W zero = w_zero();
    W flat = zero; // minus the number of pairs no more than 2 apart
    for (int i = 0; i < 9; ++i)
        flat = w_add(flat, w_gt(w_set(3), w_abs(w_sub(s[i], s[i + 1]))));
    const W dc_mode = w_gt(w_set(-5), flat); // six pairs or more

    // Default mode: only s4 and s5 move.
    const W a0 = w_add(w_times5(w_sub(s[5], s[4])), w_sll<1>(w_sub(s[3], s[6])));
    const W a1 = w_add(w_times5(w_sub(s[3], s[2])), w_sll<1>(w_sub(s[1], s[4])));
    const W a2 = w_add(w_times5(w_sub(s[7], s[6])), w_sll<1>(w_sub(s[5], s[8])));
    const W abs0 = w_abs(a0);
    const W m = w_min(w_abs(a1), w_abs(a2));
    const W apply = w_andnot(dc_mode, w_and(w_gt(w_sll<3>(qp), abs0), w_gt(abs0, m)));
    W d = w_sra<6>(w_add(w_times5(w_sub(abs0, m)), w_set(32)));
    d = w_sel(w_gt(a0, zero), w_sub(zero, d), d);
    const W diff = w_sub(s[4], s[5]);
    const W down = w_gt(diff, w_set(-1)); // s4 >= s5
    const W hi = w_and(down, w_sra<1>(diff));
    const W lo = w_andnot(down, w_sub(zero, w_sra<1>(w_sub(zero, diff))));
    d = w_and(apply, w_min(w_max(d, lo), hi));
    const W s4 = w_sub(s[4], d), s5 = w_add(s[5], d);

    // DC offset mode: s1 .. s8 smoothed, the ends padded.
    W mx = s[1], mn = s[1];
    for (int i = 2; i <= 8; ++i) {
        mx = w_max(mx, s[i]);
        mn = w_min(mn, s[i]);
    }
    const W smooth = w_and(dc_mode, w_gt(w_sll<1>(qp), w_sub(mx, mn)));
    const W pm = w_sel(w_gt(qp, w_abs(w_sub(s[1], s[0]))), s[0], s[1]);
    const W pM = w_sel(w_gt(qp, w_abs(w_sub(s[8], s[9]))), s[9], s[8]);
    W p[16]; // p[k + 3] = p(k), k = -3 .. 12
    for (int k = -3; k <= 12; ++k)
        p[k + 3] = k < 1 ? pm : k > 8 ? pM : s[k];
    W out[9];
    for (int n = 1; n <= 8; ++n) {
        const W* c = p + n + 3;
        W acc = w_add(w_add(c[-4], c[-3]), w_add(c[3], c[4]));
        acc = w_add(acc, w_sll<1>(w_add(w_add(c[-2], c[-1]), w_add(c[1], c[2]))));
        acc = w_add(acc, w_sll<2>(c[0]));
        out[n] = w_sra<4>(w_add(acc, w_set(8)));
    }
    for (int n = 1; n <= 8; ++n)
        s[n] = w_sel(smooth, out[n], n == 4 ? s4 : n == 5 ? s5 : s[n]);
}

// Columns x .. x + kWLanes - 1 at a time; the rest, fewer than a register, the plain way.
DSP_INLINE void deblock_horizontal_lanes(uint8_t* p, int stride, int count, int qp)
{
    int x = 0;
    for (; x + kWLanes <= count; x += kWLanes) {
        W s[10];
        for (int i = 0; i < 10; ++i)
            s[i] = w_load(p + static_cast<ptrdiff_t>(i) * stride + x);
        filter_lanes(s, qp);
        for (int i = 1; i <= 8; ++i)
            w_store(p + static_cast<ptrdiff_t>(i) * stride + x, s[i]);
    }
    if (x < count)
        deblock_horizontal_edge_c(p + x, stride, count - x, qp);
}

// Rows r .. r + kWLanes - 1 at a time, gathered into lanes through a small transposed copy.
DSP_INLINE void deblock_vertical_lanes(uint8_t* p, int stride, int count, int qp)
{
    alignas(32) uint8_t t[10][kWLanes + 16];
    int r = 0;
    for (; r + kWLanes <= count; r += kWLanes) {
        for (int l = 0; l < kWLanes; ++l) {
            const uint8_t* row = p + static_cast<ptrdiff_t>(r + l) * stride;
            for (int i = 0; i < 10; ++i)
                t[i][l] = row[i];
        }
        W s[10];
        for (int i = 0; i < 10; ++i)
            s[i] = w_load(t[i]);
        filter_lanes(s, qp);
        for (int i = 1; i <= 8; ++i)
            w_store(t[i], s[i]);
        for (int l = 0; l < kWLanes; ++l) {
            uint8_t* row = p + static_cast<ptrdiff_t>(r + l) * stride;
            for (int i = 1; i <= 8; ++i)
                row[i] = t[i][l];
        }
    }
    if (r < count)
        deblock_vertical_edge_c(p + static_cast<ptrdiff_t>(r) * stride, stride, count - r, qp);
}

} // namespace
} // namespace mpeg4::x86
