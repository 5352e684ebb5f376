// The row pass keeps its full scale (no descaling) so the column pass sees
// 2^s times the true row output; products are 64-bit because hostile
// coefficients (12-bit escapes times quantiser 31) overflow 32 bits there.
#include "codec/mpeg4/idct.h"

namespace mpeg4 {

namespace {

struct Consts {
    int c1, c7, c3, c5, c2, c6, c4, rot, shift;
};
constexpr Consts k512 = {502, 100, 426, 284, 473, 196, 362, 724, 10};
constexpr Consts k128 = {126, 25, 106, 71, 118, 49, 91, 181, 8};

// Low: x4..x7 are known to be zero (low-frequency data), so the compiler
// drops their products; the result is the same.
template <const Consts& K, bool Column, bool Low = false>
inline void butterfly(const int64_t* in, int64_t* y)
{
    const int64_t x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3];
    const int64_t x4 = Low ? 0 : in[4], x5 = Low ? 0 : in[5], x6 = Low ? 0 : in[6], x7 = Low ? 0 : in[7];
    int64_t a = K.c4 * (x0 + x4);
    int64_t b = K.c4 * (x0 - x4);
    int64_t c = K.c2 * x2 + K.c6 * x6;
    int64_t d = K.c6 * x2 - K.c2 * x6;
    int64_t e0 = a + c, e3 = a - c, e1 = b + d, e2 = b - d;

    int64_t p = K.c1 * x1 + K.c7 * x7;
    int64_t q = K.c7 * x1 - K.c1 * x7;
    int64_t r = K.c3 * x3 + K.c5 * x5;
    int64_t s = K.c3 * x5 - K.c5 * x3;
    int64_t u = p - r + q - s;
    int64_t v = p - r - q + s;
    int64_t o1, o2;
    if constexpr (Column) {
        o1 = K.rot * (u >> K.shift) + 128;
        o2 = K.rot * (v >> K.shift) + 128;
    } else {
        o1 = (K.rot * u + (1 << (K.shift - 1))) >> K.shift;
        o2 = (K.rot * v + (1 << (K.shift - 1))) >> K.shift;
    }
    int64_t o0 = p + r, o3 = q + s;
    y[0] = e0 + o0;
    y[7] = e0 - o0;
    y[1] = e1 + o1;
    y[6] = e1 - o1;
    y[2] = e2 + o2;
    y[5] = e2 - o2;
    y[3] = e3 + o3;
    y[4] = e3 - o3;
}

template <const Consts& K>
void idct(int32_t* block, unsigned row_mask)
{
    int64_t tmp[64];
    for (int r = 0; r < 8; ++r) {
        int64_t* out = tmp + 8 * r;
        const int32_t* in = block + 8 * r;
        // A zero row stays zero: every rounding term of the row pass is below one.
        if (!(row_mask & (1u << r))) {
            for (int i = 0; i < 8; ++i)
                out[i] = 0;
            continue;
        }
        if (!(in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7])) {
            int64_t v = int64_t{K.c4} * in[0];
            for (int i = 0; i < 8; ++i)
                out[i] = v;
            continue;
        }
        int64_t x[8];
        for (int i = 0; i < 8; ++i)
            x[i] = in[i];
        if (!(in[4] | in[5] | in[6] | in[7]))
            butterfly<K, false, true>(x, out);
        else
            butterfly<K, false>(x, out);
    }
    constexpr int final_shift = 2 * K.shift;
    constexpr int64_t half = int64_t{1} << (final_shift - 1);
    if (row_mask == 1) {
        // Only row 0 reaches the columns: the odd part reduces to the
        // rounding constant of the column rotation.
        for (int c = 0; c < 8; ++c) {
            int64_t e = K.c4 * tmp[c] + half;
            int32_t a = static_cast<int32_t>(e >> final_shift);
            int32_t up = static_cast<int32_t>((e + 128) >> final_shift);
            int32_t down = static_cast<int32_t>((e - 128) >> final_shift);
            block[c] = a, block[8 + c] = up, block[16 + c] = up, block[24 + c] = a;
            block[32 + c] = a, block[40 + c] = down, block[48 + c] = down, block[56 + c] = a;
        }
        return;
    }
    const bool low = !(row_mask & 0xF0);
    for (int c = 0; c < 8; ++c) {
        int64_t x[8], y[8];
        for (int i = 0; i < 8; ++i)
            x[i] = tmp[8 * i + c];
        if (low)
            butterfly<K, true, true>(x, y);
        else
            butterfly<K, true>(x, y);
        for (int i = 0; i < 8; ++i)
            block[8 * i + c] = static_cast<int32_t>((y[i] + half) >> final_shift);
    }
}

} // namespace

void idct_512(int32_t* block, unsigned row_mask) { idct<k512>(block, row_mask); }
void idct_128(int32_t* block, unsigned row_mask) { idct<k128>(block, row_mask); }

} // namespace mpeg4
