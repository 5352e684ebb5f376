// SSE2, SSSE3 and AVX2 row-pair kernels. Each function carries its own target so the rest of
// the build stays at the baseline; the dispatcher only calls what the CPU has.
#include "codec/color/yuv2rgb_simd.h"

#ifdef CAMCTL_YUV2RGB_X86

#include <immintrin.h>

#define YUV_SSE2 __attribute__((target("sse2")))
#define YUV_SSSE3 __attribute__((target("ssse3")))
#define YUV_AVX2 __attribute__((target("avx2")))
#define YUV_INLINE inline __attribute__((always_inline))

namespace yuv2rgb {
namespace {

// A channel of the tables is (76309 Y + C) >> 16, clamped, where C gathers that channel's
// chroma products and the offsets. Everything is split into exact 16-bit halves, so the lanes
// are 16 bits wide and the bytes are the tables' to the last bit:
//   76309 Y = 65536 hi + lo, hi = Y + (10773 Y >> 16), lo = 10773 Y mod 65536
//   C = 65536 H + L
//   channel = hi + H + carry(lo + L)
// The carry comes when lo > ~L unsigned. With lo biased by 0x8000 per pixel and the bound
// L ^ 0x7FFF made once per chroma sample, that is one signed compare.
//
// The chroma halves come the same way: x times a factor below 65536 splits into mulhi and
// mullo, the factors' multiples of 65536 go straight into H, and the carries out of L are
// compares on the bounds: after adding a constant K, bound > ~(K's low half ^ 0x8000); after
// adding a variable, bound > the bound before it.
constexpr short kLumaFrac = 76309 - 65536;

// The tables' offsets, (j - 16) and (j - 128), gathered per channel.
constexpr int32_t kBlueOffset = -132201 * 128 - 76309 * 16;
constexpr int32_t kGreenOffset = (25675 + 53279) * 128 - 76309 * 16;
constexpr int32_t kRedOffset = -104597 * 128 - 76309 * 16;

// A 32-bit constant K added to a product whose low half is a: high is K's H; the bound of
// a + K is boundBias - a; carryAbove is what the bound must exceed for a + K to carry.
struct Offset
{
    short high;
    short boundBias;
    short carryAbove;
};
constexpr Offset Split(int32_t k)
{
    const int low = k & 0xFFFF;
    return {short(k >> 16), short(uint16_t(-low - 0x8001)), short(uint16_t(low ^ 0x7FFF))};
}
constexpr Offset kBlue = Split(kBlueOffset);
constexpr Offset kGreen = Split(kGreenOffset);
constexpr Offset kRed = Split(kRedOffset);

// 132201 U = (2 U << 16) + 1129 U; 104597 V = (V << 16) + 39061 V;
// -25675 U is a signed mulhi and a mullo; -53279 V = -(V << 16) + 12257 V.
constexpr short kBlueU = 1129;
constexpr short kRedV = short(uint16_t(39061));
constexpr short kGreenU = -25675;
constexpr short kGreenV = 12257;

// The packed channel bytes of 16 pixels hold the even pixels first, then the odd ones; these
// pick them into blue-green-red order, three 16-byte chunks by three channels, twice over for
// the two AVX2 lanes.
struct InterleaveMasks
{
    alignas(32) uint8_t m[3][3][32];
};
constexpr InterleaveMasks MakeInterleaveMasks()
{
    InterleaveMasks t{};
    for (int chunk = 0; chunk < 3; ++chunk)
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 32; ++i) {
                const int j = chunk * 16 + i % 16, p = j / 3;
                t.m[chunk][channel][i] =
                    uint8_t(j % 3 == channel ? (p % 2 ? 8 + p / 2 : p / 2) : 0x80);
            }
    return t;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

// ---- 128-bit: SSE2 arithmetic, shared by the SSE2 and SSSE3 kernels.

struct Luma128
{
    __m128i hi;
    __m128i biasedLo; // lo ^ 0x8000
};

struct Chroma128
{
    __m128i bound[3]; // blue, green, red, of eight chroma samples
    __m128i high[3];
};

YUV_SSE2 YUV_INLINE __m128i Set(short k)
{
    return _mm_set1_epi16(k);
}

YUV_SSE2 YUV_INLINE Luma128 LumaHalves(__m128i y)
{
    return {_mm_add_epi16(_mm_mulhi_epu16(y, Set(kLumaFrac)), y),
            _mm_xor_si128(_mm_mullo_epi16(y, Set(kLumaFrac)), Set(short(0x8000)))};
}

YUV_SSE2 YUV_INLINE __m128i Channel(const Luma128& l, __m128i bound, __m128i high)
{
    return _mm_sub_epi16(_mm_add_epi16(l.hi, high), _mm_cmpgt_epi16(l.biasedLo, bound));
}

// `u`, `v`: eight chroma samples as 16-bit lanes.
YUV_SSE2 YUV_INLINE Chroma128 ChromaHalves(__m128i u, __m128i v)
{
    Chroma128 c;
    const __m128i blueU = Set(kBlueU), redV = Set(kRedV), greenU = Set(kGreenU),
                  greenV = Set(kGreenV);
    c.bound[0] = _mm_sub_epi16(Set(kBlue.boundBias), _mm_mullo_epi16(u, blueU));
    c.high[0] =
        _mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(u, u),
                                    _mm_add_epi16(_mm_mulhi_epu16(u, blueU), Set(kBlue.high))),
                      _mm_cmpgt_epi16(c.bound[0], Set(kBlue.carryAbove)));

    c.bound[2] = _mm_sub_epi16(Set(kRed.boundBias), _mm_mullo_epi16(v, redV));
    c.high[2] =
        _mm_sub_epi16(_mm_add_epi16(v, _mm_add_epi16(_mm_mulhi_epu16(v, redV), Set(kRed.high))),
                      _mm_cmpgt_epi16(c.bound[2], Set(kRed.carryAbove)));

    const __m128i vBound = _mm_sub_epi16(Set(kGreen.boundBias), _mm_mullo_epi16(v, greenV));
    c.bound[1] = _mm_sub_epi16(vBound, _mm_mullo_epi16(u, greenU));
    const __m128i carries = _mm_add_epi16(_mm_cmpgt_epi16(vBound, Set(kGreen.carryAbove)),
                                          _mm_cmpgt_epi16(c.bound[1], vBound));
    c.high[1] = _mm_sub_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(u, greenU), _mm_mulhi_epu16(v, greenV)),
                      _mm_sub_epi16(Set(kGreen.high), v)),
        carries);
    return c;
}

YUV_SSE2 YUV_INLINE Chroma128 LoadChroma128(const uint8_t* u, const uint8_t* v)
{
    const __m128i zero = _mm_setzero_si128();
    return ChromaHalves(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), zero),
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), zero));
}

// ---- SSE2: pixels in their own order, chroma doubled up to meet them.

// Four pixels as 32-bit lanes 0x00RRGGBB to their 12 bytes, the last four bytes zero.
YUV_SSE2 YUV_INLINE __m128i Pack12(__m128i p)
{
    const __m128i low = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i high =
        _mm_set_epi32(0x0000FFFF, int32_t(0xFF000000u), 0x0000FFFF, int32_t(0xFF000000u));
    const __m128i six =
        _mm_or_si128(_mm_and_si128(p, low), _mm_and_si128(_mm_srli_epi64(p, 8), high));
    const __m128i bytes6to11 = _mm_set_epi32(0, -1, int32_t(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_move_epi64(six), _mm_and_si128(_mm_srli_si128(six, 2), bytes6to11));
}

// `c[0]` for pixels 0-7, `c[1]` for 8-15.
YUV_SSE2 YUV_INLINE void RowSse2(const uint8_t* y, const Chroma128 c[2], uint8_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const Luma128 a = LumaHalves(_mm_unpacklo_epi8(px, zero));
    const Luma128 b = LumaHalves(_mm_unpackhi_epi8(px, zero));
    const __m128i blue = _mm_packus_epi16(Channel(a, c[0].bound[0], c[0].high[0]),
                                          Channel(b, c[1].bound[0], c[1].high[0]));
    const __m128i green = _mm_packus_epi16(Channel(a, c[0].bound[1], c[0].high[1]),
                                           Channel(b, c[1].bound[1], c[1].high[1]));
    const __m128i red = _mm_packus_epi16(Channel(a, c[0].bound[2], c[0].high[2]),
                                         Channel(b, c[1].bound[2], c[1].high[2]));

    const __m128i bg0 = _mm_unpacklo_epi8(blue, green), bg1 = _mm_unpackhi_epi8(blue, green);
    const __m128i r0 = _mm_unpacklo_epi8(red, zero), r1 = _mm_unpackhi_epi8(red, zero);
    const __m128i c0 = Pack12(_mm_unpacklo_epi16(bg0, r0));
    const __m128i c1 = Pack12(_mm_unpackhi_epi16(bg0, r0));
    const __m128i c2 = Pack12(_mm_unpacklo_epi16(bg1, r1));
    const __m128i c3 = Pack12(_mm_unpackhi_epi16(bg1, r1));
    __m128i* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
    _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
    _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
}

// 16 pixels of both rows from eight chroma samples.
YUV_SSE2 YUV_INLINE void BlockSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                   const uint8_t* v, uint8_t* out0, uint8_t* out1)
{
    const Chroma128 c = LoadChroma128(u, v);
    Chroma128 doubled[2];
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        doubled[0].bound[i] = _mm_unpacklo_epi16(c.bound[i], c.bound[i]);
        doubled[1].bound[i] = _mm_unpackhi_epi16(c.bound[i], c.bound[i]);
        doubled[0].high[i] = _mm_unpacklo_epi16(c.high[i], c.high[i]);
        doubled[1].high[i] = _mm_unpackhi_epi16(c.high[i], c.high[i]);
    }
    RowSse2(y0, doubled, out0);
    RowSse2(y1, doubled, out1);
}

// ---- SSSE3: even and odd pixels apart, so the chroma needs no doubling; pshufb puts them back.

YUV_SSSE3 YUV_INLINE __m128i Mask128(int chunk, int channel)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[chunk][channel]));
}

YUV_SSSE3 YUV_INLINE __m128i Chunk128(const __m128i ch[3], int k)
{
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(ch[0], Mask128(k, 0)),
                                     _mm_shuffle_epi8(ch[1], Mask128(k, 1))),
                        _mm_shuffle_epi8(ch[2], Mask128(k, 2)));
}

YUV_SSSE3 YUV_INLINE void RowSsse3(const uint8_t* y, const Chroma128& c, uint8_t* out)
{
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const Luma128 even = LumaHalves(_mm_and_si128(px, Set(0x00FF)));
    const Luma128 odd = LumaHalves(_mm_srli_epi16(px, 8));
    const __m128i ch[3] = {
        _mm_packus_epi16(Channel(even, c.bound[0], c.high[0]), Channel(odd, c.bound[0], c.high[0])),
        _mm_packus_epi16(Channel(even, c.bound[1], c.high[1]), Channel(odd, c.bound[1], c.high[1])),
        _mm_packus_epi16(Channel(even, c.bound[2], c.high[2]),
                         Channel(odd, c.bound[2], c.high[2]))};
    __m128i* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, Chunk128(ch, 0));
    _mm_storeu_si128(o + 1, Chunk128(ch, 1));
    _mm_storeu_si128(o + 2, Chunk128(ch, 2));
}

YUV_SSSE3 YUV_INLINE void BlockSsse3(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                     const uint8_t* v, uint8_t* out0, uint8_t* out1)
{
    const Chroma128 c = LoadChroma128(u, v);
    RowSsse3(y0, c, out0);
    RowSsse3(y1, c, out1);
}

// ---- AVX2: the SSSE3 layout in each 128-bit lane, 16 pixels a lane.

struct Luma256
{
    __m256i hi;
    __m256i biasedLo;
};

struct Chroma256
{
    __m256i bound[3];
    __m256i high[3];
};

YUV_AVX2 YUV_INLINE __m256i Set256(short k)
{
    return _mm256_set1_epi16(k);
}

YUV_AVX2 YUV_INLINE Luma256 LumaHalves(__m256i y)
{
    return {_mm256_add_epi16(_mm256_mulhi_epu16(y, Set256(kLumaFrac)), y),
            _mm256_xor_si256(_mm256_mullo_epi16(y, Set256(kLumaFrac)), Set256(short(0x8000)))};
}

YUV_AVX2 YUV_INLINE __m256i Channel(const Luma256& l, __m256i bound, __m256i high)
{
    return _mm256_sub_epi16(_mm256_add_epi16(l.hi, high), _mm256_cmpgt_epi16(l.biasedLo, bound));
}

YUV_AVX2 YUV_INLINE Chroma256 ChromaHalves(__m256i u, __m256i v)
{
    Chroma256 c;
    const __m256i blueU = Set256(kBlueU), redV = Set256(kRedV), greenU = Set256(kGreenU),
                  greenV = Set256(kGreenV);
    c.bound[0] = _mm256_sub_epi16(Set256(kBlue.boundBias), _mm256_mullo_epi16(u, blueU));
    c.high[0] = _mm256_sub_epi16(
        _mm256_add_epi16(_mm256_add_epi16(u, u),
                         _mm256_add_epi16(_mm256_mulhi_epu16(u, blueU), Set256(kBlue.high))),
        _mm256_cmpgt_epi16(c.bound[0], Set256(kBlue.carryAbove)));

    c.bound[2] = _mm256_sub_epi16(Set256(kRed.boundBias), _mm256_mullo_epi16(v, redV));
    c.high[2] = _mm256_sub_epi16(
        _mm256_add_epi16(v, _mm256_add_epi16(_mm256_mulhi_epu16(v, redV), Set256(kRed.high))),
        _mm256_cmpgt_epi16(c.bound[2], Set256(kRed.carryAbove)));

    const __m256i vBound =
        _mm256_sub_epi16(Set256(kGreen.boundBias), _mm256_mullo_epi16(v, greenV));
    c.bound[1] = _mm256_sub_epi16(vBound, _mm256_mullo_epi16(u, greenU));
    const __m256i carries = _mm256_add_epi16(_mm256_cmpgt_epi16(vBound, Set256(kGreen.carryAbove)),
                                             _mm256_cmpgt_epi16(c.bound[1], vBound));
    c.high[1] = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(u, greenU),
                                                                   _mm256_mulhi_epu16(v, greenV)),
                                                  _mm256_sub_epi16(Set256(kGreen.high), v)),
                                 carries);
    return c;
}

// Sixteen chroma samples, 0-7 in lane 0 and 8-15 in lane 1 to match the luma lanes.
YUV_AVX2 YUV_INLINE Chroma256 LoadChroma256(const uint8_t* u, const uint8_t* v)
{
    return ChromaHalves(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))),
                        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v))));
}

YUV_AVX2 YUV_INLINE __m256i Mask256(int chunk, int channel)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave.m[chunk][channel]));
}

YUV_AVX2 YUV_INLINE __m256i Chunk256(const __m256i ch[3], int k)
{
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(ch[0], Mask256(k, 0)),
                                           _mm256_shuffle_epi8(ch[1], Mask256(k, 1))),
                           _mm256_shuffle_epi8(ch[2], Mask256(k, 2)));
}

YUV_AVX2 YUV_INLINE void RowAvx2(const uint8_t* y, const Chroma256& c, uint8_t* out)
{
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    const Luma256 even = LumaHalves(_mm256_and_si256(px, Set256(0x00FF)));
    const Luma256 odd = LumaHalves(_mm256_srli_epi16(px, 8));
    const __m256i ch[3] = {_mm256_packus_epi16(Channel(even, c.bound[0], c.high[0]),
                                               Channel(odd, c.bound[0], c.high[0])),
                           _mm256_packus_epi16(Channel(even, c.bound[1], c.high[1]),
                                               Channel(odd, c.bound[1], c.high[1])),
                           _mm256_packus_epi16(Channel(even, c.bound[2], c.high[2]),
                                               Channel(odd, c.bound[2], c.high[2]))};
    const __m256i chunk0 = Chunk256(ch, 0), chunk1 = Chunk256(ch, 1), chunk2 = Chunk256(ch, 2);
    // Each lane made 48 bytes as three chunks; lane 0's go first.
    __m256i* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, _mm256_permute2x128_si256(chunk0, chunk1, 0x20));
    _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(chunk2, chunk0, 0x30));
    _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(chunk1, chunk2, 0x31));
}

YUV_AVX2 YUV_INLINE void BlockAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                   const uint8_t* v, uint8_t* out0, uint8_t* out1)
{
    const Chroma256 c = LoadChroma256(u, v);
    RowAvx2(y0, c, out0);
    RowAvx2(y1, c, out1);
}

// Where block `x` starts: whole blocks, then one that ends at the width and overlaps the one
// before. It writes the same bytes again, so once the width reaches a block the tables have no
// pixels left.
inline int BlockStart(int x, int block, int width)
{
    return x + block > width ? width - block : x;
}

} // namespace

YUV_SSE2 int RowPairSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                         uint8_t* out0, uint8_t* out1, int width)
{
    if (width < 16)
        return 0;
    for (int x = 0; x < width; x += 16) {
        const int at = BlockStart(x, 16, width);
        BlockSse2(y0 + at, y1 + at, u + at / 2, v + at / 2, out0 + 3 * at, out1 + 3 * at);
    }
    return width;
}

YUV_SSSE3 int RowPairSsse3(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                           uint8_t* out0, uint8_t* out1, int width)
{
    if (width < 16)
        return 0;
    for (int x = 0; x < width; x += 16) {
        const int at = BlockStart(x, 16, width);
        BlockSsse3(y0 + at, y1 + at, u + at / 2, v + at / 2, out0 + 3 * at, out1 + 3 * at);
    }
    return width;
}

YUV_AVX2 int RowPairAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                         uint8_t* out0, uint8_t* out1, int width)
{
    // Below one block: the SSSE3 kernel, which every AVX2 CPU has.
    if (width < 32)
        return RowPairSsse3(y0, y1, u, v, out0, out1, width);
    for (int x = 0; x < width; x += 32) {
        const int at = BlockStart(x, 32, width);
        BlockAvx2(y0 + at, y1 + at, u + at / 2, v + at / 2, out0 + 3 * at, out1 + 3 * at);
    }
    return width;
}

} // namespace yuv2rgb

#endif
