// Most-significant-bit-first reader over a bounded buffer.
//
// Past the end it reads zero bits and keeps counting, so a parse may run on
// and is judged once: overrun() is latched by the position, not by a flag
// that every read must test. Zero bits cannot loop forever here: every code
// table of the decoder treats a long run of zeros as an invalid code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mpeg4 {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t size) { reset(data, size); }

    void reset(const uint8_t* data, size_t size)
    {
        data_ = data;
        // Keeps bit positions representable; the exported length-less call
        // passes a huge size.
        size_ = size > (SIZE_MAX >> 4) ? (SIZE_MAX >> 4) : size;
        pos_ = 0;
    }

    // Next n bits (1..32) without consuming them.
    uint32_t peek(int n) const { return static_cast<uint32_t>(window() >> (64 - n)); }
    void skip(int n) { pos_ += static_cast<size_t>(n); }
    uint32_t read(int n)
    {
        uint32_t v = peek(n);
        pos_ += static_cast<size_t>(n);
        return v;
    }
    bool bit() { return read(1) != 0; }

    size_t bit_pos() const { return pos_; }
    size_t byte_pos() const { return pos_ >> 3; }
    bool byte_aligned() const { return (pos_ & 7) == 0; }
    void seek_byte(size_t byte) { pos_ = byte << 3; }
    void seek_bit(size_t bit) { pos_ = bit; }
    void align() { pos_ = (pos_ + 7) & ~static_cast<size_t>(7); }
    size_t size() const { return size_; }
    bool overrun() const { return pos_ > size_ * 8; }
    size_t bytes_left() const { return byte_pos() < size_ ? size_ - byte_pos() : 0; }
    // Byte at an absolute offset, 0 past the end.
    uint8_t byte_at(size_t off) const { return off < size_ ? data_[off] : 0; }

    // 64 bits from the position, MSB-aligned: stream bits, then zeros past the end.
    uint64_t window() const
    {
        size_t byte = pos_ >> 3;
        uint64_t v;
        if (byte + 8 <= size_) {
            std::memcpy(&v, data_ + byte, 8);
            v = __builtin_bswap64(v);
        } else {
            v = 0;
            for (size_t i = 0; i < 8; ++i)
                v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
        }
        return v << (pos_ & 7);
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
};

} // namespace mpeg4
