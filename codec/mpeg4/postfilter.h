// Post-processing deblocking of the luma plane, ISO/IEC 14496-2 Annex F
// (default and DC offset modes, THR1 = 2, THR2 = 6).
#pragma once

#include <cstdint>

namespace mpeg4 {

struct Dsp;

// Horizontal block edges first, then vertical ones, in place, with the
// edge kernels of `dsp` (the plain ones when null). Edges whose ten-sample
// window would leave the picture are skipped.
void deblock_luma(uint8_t* y, int stride, int width, int height, int qp, const Dsp* dsp = nullptr);

// The plain edge kernels (see DeblockFn).
void deblock_horizontal_edge_c(uint8_t* p, int stride, int count, int qp);
void deblock_vertical_edge_c(uint8_t* p, int stride, int count, int qp);

// One ten-sample set s[0] .. s[9] `step` apart, edge between s[4] and s[5].
void deblock_set(uint8_t* s, int step, int qp);

// Filter strength for a picture; the viewer smooths it across pictures in
// one value shared by the whole process.
int viewer_filter_strength(int coding_type, int vop_quant);
int smoothed_strength();
void set_smoothed_strength(int s);

} // namespace mpeg4
