#pragma once
// The G.726 decoder proper (ITU-T G.726 clause 4, decoder blocks), one code at a time, in the
// Recommendation's integer arithmetic so that it is bit-exact with it. Values hold the
// Recommendation's bit patterns (two's complement or sign-magnitude of the stated width in the
// low bits of an unsigned word), which is why the arithmetic below masks rather than relies on
// C++ signed types.

#include "codec/audio/g726_tables.h"

#include <cstdint>

namespace g726 {

struct AdpcmState
{
    uint32_t yl = 34816; // slow scale factor, 19 bits
    uint16_t yu = 544;   // fast scale factor, 13 bits
    uint16_t dms = 0;    // short-term average magnitude of F(I), 12 bits
    uint16_t dml = 0;    // long-term average, 14 bits
    uint16_t ap = 0;     // speed control, 10 bits
    uint16_t a[2] = {};  // pole coefficients a1, a2, 16-bit two's complement
    uint16_t b[6] = {};  // zero coefficients b1..b6
    uint16_t pk[2] = {}; // signs of the last two partial signals p(k-1), p(k-2)
    // Last six quantised differences and last two reconstructed signals in the 11-bit floating
    // format (sign, 4-bit exponent, 6-bit mantissa); 32 is zero.
    uint16_t dq[6] = {32, 32, 32, 32, 32, 32};
    uint16_t sr[2] = {32, 32};
    uint16_t td = 0; // tone detected
};

// Decodes one code of `rate.bits` bits and returns the reconstructed signal sr(k), a value of
// 16-bit range (in practice 14 bits).
int DecodeCode(AdpcmState& state, const RateTables& rate, unsigned code);

// The linear output of the decoder: sr(k) × 4, saturated to 16 bits.
inline int16_t LinearOutput(int sr)
{
    const int v = sr * 4;
    return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

} // namespace g726
