#pragma once
// The audio path's fixed low-pass filter after the G.726 decoder: a third-order recursive
// section with a fourth-order numerator in 12-bit fixed point. Its gain is about 0.90 below
// 1 kHz and falls to 0.03 at 3.2 kHz (8 kHz sampling), taking off the decoder's hiss.

#include <cstdint>

namespace g726 {

struct LowPassState
{
    int16_t x[4] = {}; // x1..x4: previous inputs (already halved)
    int16_t y[3] = {}; // y1..y3: previous outputs
};

inline int16_t LowPass(LowPassState& f, int16_t s)
{
    const int x0 = s >> 1;
    const int acc = 588 * x0 + 2353 * f.x[0] + 3530 * f.x[1] + 2354 * f.x[2] + 588 * f.x[3] -
                    3031 * f.y[0] - 2560 * f.y[1] - 751 * f.y[2] + 2048;
    // |y0| stays below 25,200: |x0| <= 16384 and the impulse response sums to 1.53 in absolute
    // value. Twice that can pass full scale on hard transients, so the output saturates.
    const int y0 = acc >> 12;
    f.x[3] = f.x[2];
    f.x[2] = f.x[1];
    f.x[1] = f.x[0];
    f.x[0] = static_cast<int16_t>(x0);
    f.y[2] = f.y[1];
    f.y[1] = f.y[0];
    f.y[0] = static_cast<int16_t>(y0);
    const int out = 2 * y0;
    return static_cast<int16_t>(out > 32767 ? 32767 : out < -32768 ? -32768 : out);
}

} // namespace g726
