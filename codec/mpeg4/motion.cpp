#include "codec/mpeg4/motion.h"

#include "codec/mpeg4/bitreader.h"
#include "codec/mpeg4/tables.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace mpeg4 {

namespace {

template <int N>
void put_full(uint8_t* d, int ds, const uint8_t* s, int ss, int)
{
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        std::memcpy(d, s, N);
}

template <int N>
void put_h(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const int add = 1 - rounding;
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        for (int x = 0; x < N; ++x)
            d[x] = static_cast<uint8_t>((s[x] + s[x + 1] + add) >> 1);
}

template <int N>
void put_v(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const int add = 1 - rounding;
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        for (int x = 0; x < N; ++x)
            d[x] = static_cast<uint8_t>((s[x] + s[x + ss] + add) >> 1);
}

template <int N>
void put_hv(uint8_t* d, int ds, const uint8_t* s, int ss, int rounding)
{
    const int add = 2 - rounding;
    for (int y = 0; y < N; ++y, d += ds, s += ss)
        for (int x = 0; x < N; ++x)
            d[x] = static_cast<uint8_t>((s[x] + s[x + 1] + s[x + ss] + s[x + ss + 1] + add) >> 2);
}

constexpr McKernels kC = {{
    {put_full<16>, put_h<16>, put_v<16>, put_hv<16>},
    {put_full<8>, put_h<8>, put_v<8>, put_hv<8>},
}};

inline int median3(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

} // namespace

const McKernels& mc_kernels_c() { return kC; }

Mv predict_mv(const Mv* grid, int mb_cols, int mbx, int mby, int b)
{
    // {macroblock dx, dy, block} of the three candidates of each block.
    struct Cand {
        int dx, dy, blk;
    };
    static constexpr Cand kCands[4][3] = {
        {{-1, 0, 1}, {0, -1, 2}, {1, -1, 2}},
        {{0, 0, 0}, {0, -1, 3}, {1, -1, 2}},
        {{-1, 0, 3}, {0, 0, 0}, {0, 0, 1}},
        {{0, 0, 2}, {0, 0, 0}, {0, 0, 1}},
    };
    Mv v[3];
    bool ok[3];
    int valid = 0, last_valid = 0;
    for (int i = 0; i < 3; ++i) {
        const Cand& c = kCands[b][i];
        int x = mbx + c.dx, y = mby + c.dy;
        ok[i] = x >= 0 && y >= 0 && x < mb_cols;
        if (ok[i]) {
            v[i] = grid[(static_cast<size_t>(y) * mb_cols + x) * 4 + c.blk];
            ++valid;
            last_valid = i;
        } else {
            v[i] = {0, 0};
        }
    }
    if (valid == 1)
        return v[last_valid];
    return {static_cast<int16_t>(median3(v[0].x, v[1].x, v[2].x)),
            static_cast<int16_t>(median3(v[0].y, v[1].y, v[2].y))};
}

bool decode_mv_component(BitReader& br, int fcode, int pred, int* out)
{
    VlcSlot slot = kMvdLookup[br.peek(kMvdBits)];
    if (!slot.len)
        return false;
    br.skip(slot.len);
    int code = slot.value;
    int f = 1 << (fcode - 1);
    int diff = code;
    if (f > 1 && code != 0) {
        int residual = static_cast<int>(br.read(fcode - 1));
        diff = (std::abs(code) - 1) * f + residual + 1;
        if (code < 0)
            diff = -diff;
    }
    int v = pred + diff;
    if (v < -32 * f)
        v += 64 * f;
    else if (v > 32 * f - 1)
        v -= 64 * f;
    *out = v;
    return true;
}

int chroma_from_one(int v)
{
    static constexpr int kT4[4] = {0, 1, 1, 1};
    int a = std::abs(v);
    int c = (a / 4) * 2 + kT4[a % 4];
    return v < 0 ? -c : c;
}

int chroma_from_four(int sum)
{
    static constexpr int kT16[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    int a = std::abs(sum);
    int c = (a / 16) * 2 + kT16[a % 16];
    return sum < 0 ? -c : c;
}

void predict_block(const McKernels& k, uint8_t* dst, int dst_stride, const uint8_t* ref_origin,
                   int ref_stride, int w, int h, int border, int px, int py, int size, int rounding)
{
    // The clamp keeps every read inside the replicated border; positions
    // further out would read the same replicated samples anyway.
    px = std::clamp(px, -2 * border, 2 * w - 2 * size + 2 * border);
    py = std::clamp(py, -2 * border, 2 * h - 2 * size + 2 * border);
    const uint8_t* src = ref_origin + static_cast<ptrdiff_t>(py >> 1) * ref_stride + (px >> 1);
    k.put[size == 16 ? 0 : 1][(px & 1) | ((py & 1) << 1)](dst, dst_stride, src, ref_stride, rounding);
}

} // namespace mpeg4
