// The x86 kernels of the table (dsp.h). The SSE2 ones need nothing beyond x86-64's baseline;
// the AVX2 ones are built in a file of their own with AVX2 enabled and only called when the CPU
// has it.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#define CAMCTL_MPEG4_X86 1

#include "codec/mpeg4/motion.h"

#include <cstdint>

namespace mpeg4::x86 {

void idct_512_sse2(int32_t* block, unsigned row_mask);
void idct_128_sse2(int32_t* block, unsigned row_mask);
void idct_512_avx2(int32_t* block, unsigned row_mask);
void idct_128_avx2(int32_t* block, unsigned row_mask);

const McKernels& mc_kernels_sse2();
void put_block_sse2(const int32_t* block, uint8_t* dst, int stride);
void add_block_sse2(const int32_t* block, uint8_t* dst, int stride);

void deblock_horizontal_edge_sse2(uint8_t* p, int stride, int count, int qp);
void deblock_vertical_edge_sse2(uint8_t* p, int stride, int count, int qp);
void deblock_horizontal_edge_avx2(uint8_t* p, int stride, int count, int qp);

} // namespace mpeg4::x86

#endif
