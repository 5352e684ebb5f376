// Motion vectors (prediction, decoding, chroma derivation) and half-sample
// motion compensation from the bordered reference planes.
#pragma once

#include <cstdint>

namespace mpeg4 {

class BitReader;

struct Mv {
    int16_t x, y;
};

// dst = prediction of a size x size block from src (the sample at the whole
// part of the position), in one of the four half-sample cases.
using McFn = void (*)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int rounding);

struct McKernels {
    McFn put[2][4]; // [0] 16x16, [1] 8x8; index = half_x | half_y << 1
};
const McKernels& mc_kernels_c();

// Clause 7.6.5 predictor of block b (0..3) of macroblock (mbx, mby) over a
// grid of four block vectors per macroblock.
Mv predict_mv(const Mv* grid, int mb_cols, int mbx, int mby, int b);

// One component of a vector: motion code, residual, wrap into
// [-32 f, 32 f - 1]. Returns false on a code that matches no entry.
bool decode_mv_component(BitReader& br, int fcode, int pred, int* out);

// Chroma vector component from one luma component, or from the sum of four.
int chroma_from_one(int v);
int chroma_from_four(int sum);

// Predicts a size x size block at half-sample position (px, py) relative to
// the picture origin, clamped so at most `border` samples beyond the
// picture edge of (w, h) are read.
void predict_block(const McKernels& k, uint8_t* dst, int dst_stride, const uint8_t* ref_origin,
                   int ref_stride, int w, int h, int border, int px, int py, int size, int rounding);

} // namespace mpeg4
