// G.726 decoding speed, ours (with the low-pass filter) against spandsp's, at each rate, on a
// camera-like stream: frames of 960 samples of an encoded sweep with noise.

#include "codec/audio/g726.h"

#include <benchmark/benchmark.h>
#include <spandsp.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

constexpr int kSamples = 8000 * 10;
constexpr int kFrameSamples = 960;

const std::vector<uint8_t>& Stream(int bits)
{
    static std::vector<uint8_t> streams[6];
    std::vector<uint8_t>& s = streams[bits];
    if (s.empty()) {
        std::vector<int16_t> pcm(kSamples);
        uint32_t seed = 1;
        for (int i = 0; i < kSamples; ++i) {
            const double t = i / 8000.0;
            seed = seed * 1664525u + 1013904223u;
            pcm[size_t(i)] = int16_t(8000 * std::sin(2 * std::numbers::pi * (300 + 600 * t) * t) +
                                     int(seed >> 22) - 512);
        }
        g726_state_t* enc =
            g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
        s.resize(size_t(kSamples * bits / 8));
        s.resize(size_t(g726_encode(enc, s.data(), pcm.data(), kSamples)));
        g726_free(enc);
    }
    return s;
}

void BM_G726Decode(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const std::vector<uint8_t>& stream = Stream(bits);
    const size_t frame = size_t(kFrameSamples * bits / 8);
    std::vector<short> pcm(4 * frame);
    G726Decoder* d = G726_decoder_create();
    int64_t samples = 0;
    for (auto _ : state) {
        for (size_t at = 0; at + frame <= stream.size(); at += frame)
            samples += G726_dec(d, bits, stream.data() + at, int(frame), pcm.data());
        benchmark::DoNotOptimize(pcm.data());
    }
    G726_decoder_destroy(d);
    state.SetItemsProcessed(samples);
}

void BM_SpandspDecode(benchmark::State& state)
{
    const int bits = int(state.range(0));
    const std::vector<uint8_t>& stream = Stream(bits);
    const size_t frame = size_t(kFrameSamples * bits / 8);
    std::vector<int16_t> pcm(4 * frame);
    g726_state_t* d = g726_init(nullptr, bits * 8000, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    int64_t samples = 0;
    for (auto _ : state) {
        for (size_t at = 0; at + frame <= stream.size(); at += frame)
            samples += g726_decode(d, pcm.data(), stream.data() + at, int(frame));
        benchmark::DoNotOptimize(pcm.data());
    }
    g726_free(d);
    state.SetItemsProcessed(samples);
}

BENCHMARK(BM_G726Decode)->DenseRange(2, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpandspDecode)->DenseRange(2, 5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
