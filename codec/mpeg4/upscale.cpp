#include "codec/mpeg4/upscale.h"

#include <algorithm>
#include <cstddef>

namespace mpeg4 {

namespace {

// Six-tap half-sample value between s[2] and s[3]; only the low 8 bits are
// kept, as the doubled output has always done (no clamping).
inline uint8_t half(int s0, int s2, int s3, int s5)
{
    return static_cast<uint8_t>((9 * (s2 + s3) - s0 - s5) >> 4);
}

} // namespace

void double_plane(const uint8_t* src, int src_stride, int w, int h, int tile, uint8_t* dst)
{
    constexpr int kMaxWin = 16 + 5;
    const int win = tile + 5;
    const int dst_stride = 2 * w;
    uint8_t window[kMaxWin][kMaxWin];
    uint8_t tall[2 * 16][kMaxWin];
    uint8_t out_row[2 * 16];
    for (int ty = 0; ty < h; ty += tile) {
        for (int tx = 0; tx < w; tx += tile) {
            for (int r = 0; r < win; ++r) {
                int sy = std::clamp(ty + r - 2, 0, h - 1);
                const uint8_t* row = src + static_cast<ptrdiff_t>(sy) * src_stride;
                for (int c = 0; c < win; ++c)
                    window[r][c] = row[std::clamp(tx + c - 2, 0, w - 1)];
            }
            for (int r = 0; r < tile; ++r) {
                for (int c = 0; c < win; ++c) {
                    tall[2 * r][c] = window[r + 2][c];
                    tall[2 * r + 1][c] =
                        half(window[r][c], window[r + 2][c], window[r + 3][c], window[r + 5][c]);
                }
            }
            int rows = std::min(2 * tile, 2 * (h - ty));
            int cols = std::min(2 * tile, 2 * (w - tx));
            for (int r = 0; r < rows; ++r) {
                const uint8_t* t = tall[r];
                for (int c = 0; c < tile; ++c) {
                    out_row[2 * c] = t[c + 2];
                    out_row[2 * c + 1] = half(t[c], t[c + 2], t[c + 3], t[c + 5]);
                }
                std::copy(out_row, out_row + cols,
                          dst + static_cast<ptrdiff_t>(2 * ty + r) * dst_stride + 2 * tx);
            }
        }
    }
}

} // namespace mpeg4
