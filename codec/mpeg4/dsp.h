// The decoder's pixel kernels behind one table, chosen at run time. The plain C++ versions are
// the reference: every faster one gives their bytes exactly, for every input.
#pragma once

#include "codec/mpeg4/idct.h"
#include "codec/mpeg4/motion.h"

#include <cstdint>

namespace mpeg4 {

// 8x8 residual (int32, raster order) onto dst: put stores it clamped to 0..255, add adds it to
// what dst holds and clamps.
using BlockFn = void (*)(const int32_t* block, uint8_t* dst, int stride);

// The post-filter's edge loops (Annex F), in place, QP given: `count` sets across an edge.
// Horizontal edge: the sets are columns x .. x + count - 1 of rows edge - 5 .. edge + 4, where
// `p` points at row edge - 5, column x. Vertical edge: the sets are rows, `p` at column
// edge - 5 of the first row.
using DeblockFn = void (*)(uint8_t* p, int stride, int count, int qp);

struct Dsp {
    IdctFn idct[2]; // [0] 512-scale (viewer), [1] 128-scale (motion zones)
    McKernels mc;
    BlockFn put_block;
    BlockFn add_block;
    DeblockFn deblock_horizontal_edge;
    DeblockFn deblock_vertical_edge;
};

enum class DspLevel { C, Sse2, Avx2 };

const char* DspLevelName(DspLevel level);
// Whether this CPU and build can run the level; C always.
bool DspSupported(DspLevel level);
// The table of a level; the C one when the level is not supported.
const Dsp& DspFor(DspLevel level);
// What new decoders take: the fastest supported level, unless forced.
const Dsp& DspBest();
// For tests and benchmarks: decoders created later take `level`. False, and nothing changes,
// when the level is not supported.
bool DspForce(DspLevel level);

} // namespace mpeg4
