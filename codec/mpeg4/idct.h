// Separable 8x8 integer inverse DCT, rows then columns, one butterfly for
// both passes. Two constant sets: 512 * cos(k pi / 16) for the viewer,
// 128 * cos(k pi / 16) for the motion-zone module.
#pragma once

#include <cstdint>

namespace mpeg4 {

// In place: coefficients in raster order in, residual samples out.
// row_mask has bit r set when row r may hold a non-zero coefficient; rows
// outside it must be zero.
using IdctFn = void (*)(int32_t* block, unsigned row_mask);

void idct_512(int32_t* block, unsigned row_mask);
void idct_128(int32_t* block, unsigned row_mask);

} // namespace mpeg4
