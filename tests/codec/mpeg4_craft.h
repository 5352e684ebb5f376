// Hand-made narrow-layout streams for the decoder's edge cases.
#pragma once

#include <cstdint>
#include <vector>

namespace mpeg4test {

class BitWriter {
public:
    void put(uint32_t v, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            cur_ = static_cast<uint8_t>((cur_ << 1) | ((v >> i) & 1));
            if (++n_ == 8)
                flush_byte();
        }
    }
    void ones(int n)
    {
        for (int i = 0; i < n; ++i)
            put(1, 1);
    }
    size_t bits() const { return bytes.size() * 8 + n_; }
    // Picture stuffing: a zero, then ones to the boundary (a whole byte when aligned).
    void stuff()
    {
        put(0, 1);
        while (n_)
            put(1, 1);
    }
    std::vector<uint8_t> bytes;

private:
    void flush_byte()
    {
        bytes.push_back(cur_);
        cur_ = 0;
        n_ = 0;
    }
    uint8_t cur_ = 0;
    int n_ = 0;
};

inline void put_config(BitWriter& w, int width, int height, int resolution = 25, int quant_type = 0)
{
    w.put(0x000001B0, 32);
    w.put(0x01, 8);
    w.put(0x000001B5, 32);
    w.put(0x0913, 16); // not an identifier, video, no signal type, stuffing
    w.put(0x00000100, 32);
    w.put(0x00000120, 32);
    w.put(0, 1);
    w.put(1, 8);
    w.put(0, 1);
    w.put(1, 4);
    w.put(0, 1);
    w.put(0, 2);
    w.put(1, 1);
    w.put(resolution, 16);
    w.put(1, 1);
    w.put(0, 1);
    w.put(1, 1);
    w.put(width, 13);
    w.put(1, 1);
    w.put(height, 13);
    w.put(1, 1);
    w.put(0, 1);
    w.put(1, 1);
    w.put(0, 1);
    w.put(0, 1);
    w.put(quant_type, 1);
    w.put(quant_type ? 0x0CF : 0x33F, 10); // [load flags,] estimation off, resync off, stuffing
}

// Picture header; time increment of `time_bits` bits.
inline void put_vop(BitWriter& w, int type, int quant, int time_bits, int modulo_ones = 0, int fcode = 1,
                    int rounding = 0, int coded = 1)
{
    w.put(0x000001B6, 32);
    w.put(type, 2);
    w.ones(modulo_ones);
    w.put(0, 1);
    w.put(1, 1);
    w.put(0, time_bits);
    w.put(1, 1);
    w.put(coded, 1);
    if (!coded)
        return;
    if (type == 1)
        w.put(rounding, 1);
    w.put(0, 3);
    w.put(quant, 5);
    if (type == 1)
        w.put(fcode, 3);
}

// An intra macroblock with no AC and zero DC differentials: a flat 128 picture.
inline void put_flat_intra_mb(BitWriter& w)
{
    w.put(1, 1);      // mcbpc: intra, no chroma coded
    w.put(0, 1);      // ac_pred_flag
    w.put(0x3, 4);    // cbpy 0
    for (int b = 0; b < 4; ++b)
        w.put(0x3, 3); // luma DC size 0
    for (int b = 0; b < 2; ++b)
        w.put(0x3, 2); // chroma DC size 0
}

} // namespace mpeg4test
