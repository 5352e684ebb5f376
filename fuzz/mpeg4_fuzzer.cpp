// MPEG-4 decoder through its bounded entry points, with a small decoder per input.
//
// Input: mode, creation size, stream size, then the stream.
//   mode bit 0: motion-zone profile (else viewer); bit 1: a valid narrow-layout header block of
//   the stream size goes in front of the first call; bit 2: its quant_type; bit 3: the
//   post-filter runs on every picture; bit 4: pictures are taken where they lie in the decoder
//   (the painters' call) rather than copied out.
//   creation size: 16 * (1 + low nibble) wide, 16 * (1 + high nibble) high.
//   stream size: 1 + byte wide, 1 + byte high (larger than the creation size is refused).
// The stream is cut into calls before each picture start code but the first and fed in order,
// each call from an exact-size copy so that any read past the end shows. Without a header block the first call
// parses whatever headers the stream has, or decodes at the creation size, doubled.
//
// The creation size is the input's, not the profiles' 1024 x 768 or 640 x 480: a decoder that
// large, and the doubled output of its size, cost more than everything else an input does.
//
// Seeds (fuzz/corpus/mpeg4_fuzzer): six pictures (I P P I P P) of FFmpeg's mpeg4 encoder on
// its testsrc2 and mandelbrot sources at 48x32 and 40x24, in the narrow layout (tests'
// mpeg4_narrow tool), with the stream's own headers, with the generated ones, and without any
// (those made at one picture a second, so that their one-bit time increment reads without a
// layer header, at a creation size of 48x32: doubled pictures).

#include "codec/mpeg4/decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kPrefix = 4;

// A narrow-layout header block: sequence, object, video object, layer (resolution 25).
std::vector<uint8_t> headers(int width, int height, int quant_type)
{
    std::vector<uint8_t> out = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09, 0x13, 0, 0, 1, 0x00, 0, 0, 1, 0x20};
    uint64_t bits = 0;
    int n = 0;
    auto put = [&](uint32_t v, int len) {
        for (int i = len - 1; i >= 0; --i) {
            bits = (bits << 1) | ((v >> i) & 1);
            if (++n == 8) {
                out.push_back(static_cast<uint8_t>(bits));
                bits = 0;
                n = 0;
            }
        }
    };
    put(0, 1), put(1, 8), put(0, 1), put(1, 4), put(0, 1), put(0, 2), put(1, 1), put(25, 16), put(1, 1);
    put(0, 1), put(1, 1), put(static_cast<uint32_t>(width), 13), put(1, 1), put(static_cast<uint32_t>(height), 13);
    put(1, 1), put(0, 1), put(1, 1), put(0, 1), put(0, 1), put(static_cast<uint32_t>(quant_type), 1);
    put(quant_type ? 0x0CF : 0x33F, 10);
    return out;
}

// Reads every sample a view shows, so that a view reaching outside its planes shows too.
unsigned touch(const DECODER_VIEW& v)
{
    unsigned sum = 0;
    for (int p = 0; p < 3; ++p) {
        const int w = p ? v.width / 2 : v.width, h = p ? v.height / 2 : v.height;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                sum += v.plane[p][static_cast<ptrdiff_t>(y) * v.stride[p] + x];
    }
    return sum;
}

void run(DECODER* d, std::vector<uint8_t>& out, const std::vector<uint8_t>& call, bool view)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[call.size() ? call.size() : 1]);
    if (!call.empty())
        std::memcpy(copy.get(), call.data(), call.size());
    // A failed call leaves the output alone.
    out[0] = 0xA5;
    int used = -1;
    DECODER_VIEW v;
    int r = view ? decoder_decode_view(d, out.data(), copy.get(), call.size(), &used, &v)
                 : decoder_decode_sized(d, out.data(), copy.get(), call.size(), &used);
    if (r == 0 && view && touch(v) == 0xFFFFFFFFu)
        __builtin_trap(); // keeps the reads
    if (r == 0 && (used < 1 || static_cast<size_t>(used) > call.size()))
        __builtin_trap();
    if (r == 1 && (used != 4 || out[0] != 0xA5))
        __builtin_trap();
    if (r != 0 && r != 1)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kPrefix || size > (1u << 16))
        return 0;
    const uint8_t mode = data[0];
    const int create_w = 16 * (1 + (data[1] & 15)), create_h = 16 * (1 + (data[1] >> 4));
    DECODER* d = decoder_create_sized((mode & 1) ? DECODER_PROFILE_MOTION : DECODER_PROFILE_VIEWER, create_w,
                                      create_h);
    if (!d)
        return 0;
    static std::vector<uint8_t> out(6 * 256 * 256);
    const uint8_t* p = data + kPrefix;
    const size_t n = size - kPrefix;
    // Headers at the start stay with the first picture, as the painters hand them over.
    std::vector<size_t> cuts = {0};
    bool picture = n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB6;
    for (size_t i = 1; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6) {
            if (picture)
                cuts.push_back(i);
            picture = true;
        }
    cuts.push_back(n);
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        std::vector<uint8_t> call;
        if (k == 0 && (mode & 2))
            call = headers(1 + data[2], 1 + data[3], (mode >> 2) & 1);
        call.insert(call.end(), p + cuts[k], p + cuts[k + 1]);
        d->postfilter_on = (mode & 8) ? 1 : 0;
        run(d, out, call, (mode & 16) != 0);
    }
    decoder_destroy(d);
    return 0;
}
