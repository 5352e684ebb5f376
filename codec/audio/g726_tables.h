#pragma once
// Per-rate tables of the G.726 decoder (ITU-T G.726 clauses 4.2.3, 4.2.5, 4.2.7), indexed by the
// code's magnitude |I|. Data only.

#include <cstdint>

namespace g726 {

struct RateTables
{
    int bits;            // code size, 2 to 5
    const int16_t* dqln; // RECONST: log2 of the quantised difference, 12-bit two's complement
    const int16_t* wi;   // FUNCTW: scale factor multiplier W(I)
    const uint8_t* fi;   // FUNCTF: transition function F(I)
};

// Tables for `bits` 2 to 5; nullptr for any other size.
const RateTables* TablesForBits(int bits);

} // namespace g726
