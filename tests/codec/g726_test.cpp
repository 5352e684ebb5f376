// The G.726 decoder against spandsp's (which follows the Recommendation) on long signals at all
// four rates, the low-pass filter against its formula, and the unpacking of codes.

#include "codec/audio/g726.h"
#include "codec/audio/g726_adpcm.h"
#include "codec/audio/g726_lowpass.h"

#include <gtest/gtest.h>
#include <spandsp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

extern "C" int g726_header_compiles_as_c(void);

namespace {

struct DecoderDeleter
{
    void operator()(G726Decoder* d) const { G726_decoder_destroy(d); }
};
using Decoder = std::unique_ptr<G726Decoder, DecoderDeleter>;

Decoder MakeDecoder()
{
    Decoder d(G726_decoder_create());
    EXPECT_NE(d, nullptr);
    return d;
}

uint32_t NextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Ten seconds that drive every adaptive part: speech-like sweeps with noise, silence, a
// two-tone signal that switches abruptly (tone and transition detection), full-scale square
// waves (saturation) and tiny signals near zero.
std::vector<int16_t> TestSignal()
{
    std::vector<int16_t> pcm;
    uint32_t seed = 12345;
    const double kPi = std::numbers::pi;
    for (int i = 0; i < 80000; ++i) {
        const double t = i / 8000.0;
        const int part = i / 8000;
        double v = 0;
        switch (part % 5) {
        case 0: // sweep 200 Hz to 3.4 kHz with noise
            v = 9000 * std::sin(2 * kPi * (200 + 1600 * (t - part)) * (t - part)) +
                int(NextRandom(seed) % 2001) - 1000;
            break;
        case 1: // silence, then quiet noise
            v = (i % 8000) < 4000 ? 0 : int(NextRandom(seed) % 41) - 20;
            break;
        case 2: // two tones, switched every 0.1 s
            v = ((i / 800) % 2 ? 12000 : 3000) *
                (std::sin(2 * kPi * 697 * t) + std::sin(2 * kPi * 1209 * t));
            break;
        case 3: // full-scale square waves
            v = ((i / 20) % 2) ? 32767 : -32768;
            break;
        case 4: // white noise at full level
            v = int(NextRandom(seed) % 65536) - 32768;
            break;
        }
        pcm.push_back(int16_t(std::lround(std::fmax(-32768, std::fmin(32767, v)))));
    }
    return pcm;
}

std::vector<uint8_t> Encode(int bits, const std::vector<int16_t>& pcm)
{
    g726_state_t* enc = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    std::vector<uint8_t> codes(pcm.size() * size_t(bits) / 8 + 1);
    const int n = g726_encode(enc, codes.data(), pcm.data(), int(pcm.size()));
    g726_free(enc);
    codes.resize(size_t(n));
    return codes;
}

std::vector<int16_t> ReferenceDecode(int bits, const std::vector<uint8_t>& codes)
{
    g726_state_t* dec = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    std::vector<int16_t> pcm(codes.size() * 8 / size_t(bits) + 1);
    const int n = g726_decode(dec, pcm.data(), codes.data(), int(codes.size()));
    g726_free(dec);
    pcm.resize(size_t(n));
    return pcm;
}

// The codes of a left-packed stream, one per sample.
std::vector<unsigned> Unpack(int bits, const std::vector<uint8_t>& bytes)
{
    std::vector<unsigned> codes;
    for (size_t bit = 0; bit + size_t(bits) <= bytes.size() * 8; bit += size_t(bits)) {
        unsigned code = 0;
        for (size_t k = bit; k < bit + size_t(bits); ++k)
            code = (code << 1) | ((bytes[k / 8] >> (7 - k % 8)) & 1);
        codes.push_back(code);
    }
    return codes;
}

// The filter as written in its formula, in wide arithmetic.
std::vector<int16_t> FilterByFormula(const std::vector<int16_t>& in)
{
    int64_t x[5] = {}, y[4] = {};
    std::vector<int16_t> out;
    for (int16_t s : in) {
        for (int k = 4; k > 0; --k)
            x[k] = x[k - 1];
        for (int k = 3; k > 0; --k)
            y[k] = y[k - 1];
        x[0] = s >> 1;
        y[0] = (588 * x[0] + 2353 * x[1] + 3530 * x[2] + 2354 * x[3] + 588 * x[4] - 3031 * y[1] -
                2560 * y[2] - 751 * y[3] + 2048) >>
               12;
        out.push_back(int16_t(std::clamp<int64_t>(2 * y[0], -32768, 32767)));
    }
    return out;
}

// Our decoder's output for every code of the stream, checked sample by sample against the
// reference. The reference keeps the low 16 bits of sr(k) × 4 where the output saturates, so
// the reconstructed signals are compared through that.
std::vector<int16_t> CheckedDecode(int bits, const std::vector<uint8_t>& stream,
                                   int* saturated = nullptr)
{
    const std::vector<int16_t> reference = ReferenceDecode(bits, stream);
    const std::vector<unsigned> codes = Unpack(bits, stream);
    EXPECT_EQ(codes.size(), reference.size());
    g726::AdpcmState state;
    const g726::RateTables& rate = *g726::TablesForBits(bits);
    std::vector<int16_t> out;
    for (size_t i = 0; i < codes.size() && i < reference.size(); ++i) {
        const int sr = g726::DecodeCode(state, rate, codes[i]);
        const int16_t wrapped = int16_t(uint16_t(unsigned(sr) * 4u));
        if (wrapped != reference[i]) {
            ADD_FAILURE() << "sample " << i << ": sr " << sr << ", reference " << reference[i];
            break;
        }
        out.push_back(g726::LinearOutput(sr));
        if (saturated && out.back() != wrapped)
            ++*saturated;
    }
    return out;
}

class G726Rate : public ::testing::TestWithParam<int>
{
};

TEST_P(G726Rate, reconstructed_signal_is_bit_exact_with_the_reference_on_encoded_speech)
{
    const int bits = GetParam();
    const std::vector<uint8_t> stream = Encode(bits, TestSignal());
    int saturated = 0;
    const std::vector<int16_t> out = CheckedDecode(bits, stream, &saturated);
    EXPECT_EQ(out.size(), stream.size() * 8 / size_t(bits));
    // The square waves drive the output past full scale, where it saturates.
    EXPECT_GT(saturated, 0);
}

TEST_P(G726Rate, reconstructed_signal_is_bit_exact_with_the_reference_on_random_codes)
{
    const int bits = GetParam();
    uint32_t seed = 777u + unsigned(bits);
    std::vector<uint8_t> stream(60000);
    for (auto& b : stream)
        b = uint8_t(NextRandom(seed));
    EXPECT_EQ(CheckedDecode(bits, stream).size(), stream.size() * 8 / size_t(bits));
}

// Frames of uneven sizes, as a stream delivers them: the bits left between calls and the
// filter's history run on, so the result equals one pass over the whole stream.
TEST_P(G726Rate, decoding_in_frames_equals_the_filtered_reference)
{
    const int bits = GetParam();
    const std::vector<uint8_t> stream = Encode(bits, TestSignal());
    const std::vector<int16_t> expected = FilterByFormula(CheckedDecode(bits, stream));

    Decoder dec = MakeDecoder();
    std::vector<int16_t> got;
    uint32_t seed = 99;
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, NextRandom(seed) % 700);
        // Exact-size copies, so that reading or writing past either end shows under ASan.
        std::vector<uint8_t> frame(stream.begin() + long(at), stream.begin() + long(at + n));
        std::vector<short> pcm((8 * n + 4) / size_t(bits));
        const int produced = G726_dec(dec.get(), bits, frame.data(), int(n), pcm.data());
        ASSERT_GE(produced, 0);
        ASSERT_LE(size_t(produced), std::max<size_t>(4 * n, pcm.size()));
        got.insert(got.end(), pcm.begin(), pcm.begin() + produced);
        at += n;
    }
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(AllRates, G726Rate, ::testing::Values(2, 3, 4, 5),
                         [](const auto& info) { return std::to_string(info.param * 8) + "kbit"; });

TEST(G726LowPass, follows_its_formula_and_saturates_instead_of_wrapping)
{
    std::vector<int16_t> in;
    uint32_t seed = 5;
    for (int i = 0; i < 20000; ++i)
        in.push_back(int16_t(NextRandom(seed)));
    // Full-scale steps, where the output overshoots past 16 bits.
    for (int i = 0; i < 400; ++i)
        in.push_back((i / 7) % 2 ? 32767 : -32768);
    const std::vector<int16_t> expected = FilterByFormula(in);

    g726::LowPassState f;
    bool saturated = false;
    for (size_t i = 0; i < in.size(); ++i) {
        const int16_t out = g726::LowPass(f, in[i]);
        ASSERT_EQ(out, expected[i]) << "sample " << i;
        saturated = saturated || out == 32767 || out == -32768;
    }
    EXPECT_TRUE(saturated);
}

TEST(G726LowPass, gain_is_flat_at_low_frequencies_and_small_above_three_kilohertz)
{
    auto gain = [](double hz) {
        g726::LowPassState f;
        double in2 = 0, out2 = 0;
        for (int i = 0; i < 16000; ++i) {
            const int16_t s =
                int16_t(std::lround(16000 * std::sin(2 * std::numbers::pi * hz * i / 8000)));
            const int16_t out = g726::LowPass(f, s);
            if (i >= 8000) { // past the transient
                in2 += double(s) * s;
                out2 += double(out) * out;
            }
        }
        return std::sqrt(out2 / in2);
    };
    EXPECT_NEAR(gain(300), 0.90, 0.02);
    EXPECT_NEAR(gain(2000), 0.86, 0.02);
    EXPECT_NEAR(gain(2400), 0.58, 0.02);
    EXPECT_NEAR(gain(3200), 0.03, 0.02);
}

// What a fresh instance outputs for these codes, one at a time.
std::vector<int16_t> DecodeCodes(int bits, const std::vector<unsigned>& codes)
{
    g726::AdpcmState state;
    g726::LowPassState filter;
    std::vector<int16_t> out;
    for (unsigned c : codes)
        out.push_back(g726::LowPass(
            filter, g726::LinearOutput(g726::DecodeCode(state, *g726::TablesForBits(bits), c))));
    return out;
}

std::vector<int16_t> Dec(G726Decoder* d, int bits, std::vector<uint8_t> bytes)
{
    std::vector<short> pcm(4 * bytes.size() + 4, 0x5555);
    const int n = G726_dec(d, bits, bytes.data(), int(bytes.size()), pcm.data());
    EXPECT_GE(n, 0);
    EXPECT_EQ(pcm[size_t(std::max(n, 0))], 0x5555) << "wrote past its count";
    return std::vector<int16_t>(pcm.begin(), pcm.begin() + std::max(n, 0));
}

TEST(G726Unpacking, codes_come_most_significant_first)
{
    Decoder four = MakeDecoder();
    EXPECT_EQ(Dec(four.get(), 4, {0xAB}), DecodeCodes(4, {0xA, 0xB}));
    EXPECT_EQ(Dec(four.get(), 4, std::vector<uint8_t>(10, 0x3C)).size(), 20u);

    Decoder two = MakeDecoder();
    EXPECT_EQ(Dec(two.get(), 2, {0xE4}), DecodeCodes(2, {3, 2, 1, 0}));
}

TEST(G726Unpacking, odd_code_sizes_carry_leftover_bits_into_the_next_call)
{
    // 100 101 100 101 101 000 111 100: three bytes of 3-bit codes make eight exactly.
    Decoder exact = MakeDecoder();
    EXPECT_EQ(Dec(exact.get(), 3, {0x96, 0x5A, 0x3C}), DecodeCodes(3, {4, 5, 4, 5, 5, 0, 7, 4}));
    EXPECT_TRUE(Dec(exact.get(), 3, {}).empty());

    // Four bytes make ten codes and keep two bits, which lead the next call's first code.
    Decoder carry = MakeDecoder();
    const std::vector<int16_t> first = Dec(carry.get(), 3, {0xFF, 0x00, 0xFF, 0x81});
    EXPECT_EQ(first.size(), 10u);
    const std::vector<int16_t> second = Dec(carry.get(), 3, {0x40});
    std::vector<int16_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    // 111 111 110 000 000 011 111 111 100 000 (01) | (01)0 100 000 (0)
    EXPECT_EQ(both, DecodeCodes(3, {7, 7, 6, 0, 0, 3, 7, 7, 4, 0, 2, 4, 0}));

    Decoder five = MakeDecoder();
    EXPECT_EQ(Dec(five.get(), 5, {0x08, 0x42}).size(), 3u); // 16 bits: three codes, one left
    EXPECT_EQ(Dec(five.get(), 5, {0x10}).size(), 1u);       // 1 + 8 bits: one more, four left
}

TEST(G726Unpacking, zero_length_decodes_only_a_whole_code_already_held)
{
    Decoder d = MakeDecoder();
    EXPECT_TRUE(Dec(d.get(), 4, {}).empty());
    // A 5-bit call leaves three bits (011); a 2-bit call with no bytes still finds one code.
    const std::vector<int16_t> held = Dec(d.get(), 5, {0x13});
    ASSERT_EQ(held.size(), 1u);
    const std::vector<int16_t> more = Dec(d.get(), 2, {});
    ASSERT_EQ(more.size(), 1u);
    EXPECT_TRUE(Dec(d.get(), 2, {}).empty()); // one bit left is no code

    // The same codes decoded one by one through the 5- and 2-bit tables in turn.
    g726::AdpcmState state;
    g726::LowPassState filter;
    const int16_t a = g726::LowPass(
        filter, g726::LinearOutput(g726::DecodeCode(state, *g726::TablesForBits(5), 2)));
    const int16_t b = g726::LowPass(
        filter, g726::LinearOutput(g726::DecodeCode(state, *g726::TablesForBits(2), 1)));
    EXPECT_EQ(held[0], a);
    EXPECT_EQ(more[0], b);
}

TEST(G726Instances, two_instances_playing_at_once_do_not_share_bits)
{
    // Interleaved calls on two instances give what each gives alone.
    const std::vector<uint8_t> s1 = {0x12, 0x34, 0x56, 0x78, 0x9A};
    const std::vector<uint8_t> s2 = {0xFE, 0xDC, 0xBA};
    Decoder alone = MakeDecoder();
    std::vector<int16_t> expected = Dec(alone.get(), 3, {s1[0], s1[1]});
    for (int16_t v : Dec(alone.get(), 3, {s1[2], s1[3], s1[4]}))
        expected.push_back(v);

    Decoder a = MakeDecoder(), b = MakeDecoder();
    std::vector<int16_t> got = Dec(a.get(), 3, {s1[0], s1[1]});
    Dec(b.get(), 5, s2);
    for (int16_t v : Dec(a.get(), 3, {s1[2], s1[3], s1[4]}))
        got.push_back(v);
    EXPECT_EQ(got, expected);
}

TEST(G726Interface, refuses_what_it_cannot_decode)
{
    Decoder d = MakeDecoder();
    uint8_t bytes[4] = {1, 2, 3, 4};
    short pcm[32] = {};
    for (int bits : {-1, 0, 1, 6, 8, 16})
        EXPECT_EQ(G726_dec(d.get(), bits, bytes, 4, pcm), 0) << bits;
    EXPECT_EQ(G726_dec(nullptr, 4, bytes, 4, pcm), 0);
    EXPECT_EQ(G726_dec(d.get(), 4, bytes, -1, pcm), 0);
    EXPECT_EQ(G726_dec(d.get(), 4, nullptr, 4, pcm), 0);
    for (short v : pcm)
        EXPECT_EQ(v, 0);
    // Refused calls left the instance as new: it still decodes like a fresh one.
    EXPECT_EQ(Dec(d.get(), 4, {0xAB}), DecodeCodes(4, {0xA, 0xB}));

    EXPECT_EQ(G726_decoder_destroy(d.release()), 0);
    EXPECT_EQ(G726_decoder_destroy(nullptr), -1);
    EXPECT_EQ(g726_header_compiles_as_c(), -1);
}

} // namespace
