// Doubled output: each plane enlarged 2x in both directions tile by tile
// with a six-tap half-sample filter.
#pragma once

#include <cstdint>

namespace mpeg4 {

// src: w x h at src_stride; dst: 2w x 2h at stride 2w. tile is 16 or 8.
void double_plane(const uint8_t* src, int src_stride, int w, int h, int tile, uint8_t* dst);

} // namespace mpeg4
