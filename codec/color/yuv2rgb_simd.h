// The vector paths of the conversion and the choice between them, for the converter, its tests
// and the benchmark. Every level gives the tables' bytes exactly.
#pragma once

#include <cstdint>

namespace yuv2rgb {

enum class Level
{
    Tables,
    Sse2,
    Ssse3,
    Avx2
};

const char* LevelName(Level level);
// Whether this CPU (and build) can run the level; Tables always.
bool Supported(Level level);
// The fastest supported level, which conversions use unless told otherwise.
Level Best();
Level Current();
// For tests and the benchmark: every later conversion in the process uses `level`. False, and
// nothing changes, when the level is not supported.
bool Force(Level level);

// One row pair sharing chroma row `u`/`v`: converts pixels [0, width) of both rows and returns
// how many it did, 0 for a width below the kernel's block; the caller finishes with the tables.
using RowPairKernel = int (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                              const uint8_t* v, uint8_t* out0, uint8_t* out1, int width);
// Null for Tables.
RowPairKernel KernelFor(Level level);

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CAMCTL_YUV2RGB_X86 1
int RowPairSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                uint8_t* out0, uint8_t* out1, int width);
int RowPairSsse3(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                 uint8_t* out0, uint8_t* out1, int width);
int RowPairAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                uint8_t* out0, uint8_t* out1, int width);
#endif

} // namespace yuv2rgb
