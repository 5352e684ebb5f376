// AVX2 kernels: this file alone is built with AVX2 enabled, and the table calls it only on a
// CPU that has it.
#include "codec/mpeg4/dsp_x86.h"

#ifdef CAMCTL_MPEG4_X86

#include "codec/mpeg4/dsp_x86_tmpl.h"

namespace mpeg4::x86 {

void idct_512_avx2(int32_t* block, unsigned row_mask) { idct_lanes<kIdct512, idct_512>(block, row_mask); }
void idct_128_avx2(int32_t* block, unsigned row_mask) { idct_lanes<kIdct128, idct_128>(block, row_mask); }

void deblock_horizontal_edge_avx2(uint8_t* p, int stride, int count, int qp)
{
    deblock_horizontal_lanes(p, stride, count, qp);
}

} // namespace mpeg4::x86

#endif
