// Macroblock layer of I- and P-pictures into the current frame.
#pragma once

#include <cstdint>

struct Mpeg4State;

namespace mpeg4 {

// Decodes every macroblock of the picture whose header was just read.
// False on any bitstream error, including running out of input.
bool decode_macroblocks(Mpeg4State& s);

// DC scaler of Table 7-1.
int dc_scaler(int qp, bool chroma);

// Integer division rounded half away from zero (the standard's //).
inline int div_round(int a, int b) { return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b); }

} // namespace mpeg4
