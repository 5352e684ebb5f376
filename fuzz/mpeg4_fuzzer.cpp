// MPEG-4 decoder through its bounded entry point. The first byte picks the
// profile and whether a valid narrow-layout header block is put in front;
// the rest is cut into calls at each picture start code and fed in order,
// each call from an exact-size copy so that any read past the end shows.
//
// Seeds (fuzz/corpus/mpeg4_fuzzer): the first pictures of the committed
// conformance streams (tests/codec/mpeg4_data), with and without headers.

#include "codec/mpeg4/decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Layer header of a 160x120 stream (the seeds' size), resolution 25; quant_type patched in.
std::vector<uint8_t> headers(int quant_type)
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
    put(0, 1), put(1, 1), put(160, 13), put(1, 1), put(120, 13), put(1, 1), put(0, 1), put(1, 1), put(0, 1);
    put(0, 1), put(static_cast<uint32_t>(quant_type), 1), put(quant_type ? 0x0CF : 0x33F, 10);
    return out;
}

int run(DECODER* d, uint8_t* out, const std::vector<uint8_t>& call)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[call.size() ? call.size() : 1]);
    if (!call.empty())
        std::memcpy(copy.get(), call.data(), call.size());
    int used = -1;
    int r = decoder_decode_sized(d, out, copy.get(), call.size(), &used);
    if (r == 0 && (used < 1 || static_cast<size_t>(used) > call.size()))
        __builtin_trap();
    if (r == 1 && used != 4)
        __builtin_trap();
    if (r != 0 && r != 1)
        __builtin_trap();
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    static std::vector<uint8_t> out(6 * 1024 * 768);
    const uint8_t mode = data[0];
    DECODER* d = decoder_create_profile((mode & 1) ? DECODER_PROFILE_MOTION : DECODER_PROFILE_VIEWER);
    if (!d)
        return 0;
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    std::vector<size_t> cuts = {0};
    for (size_t i = 1; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB6)
            cuts.push_back(i);
    cuts.push_back(n);
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        std::vector<uint8_t> call;
        if (k == 0 && (mode & 2)) {
            call = headers((mode >> 2) & 1);
        }
        call.insert(call.end(), p + cuts[k], p + cuts[k + 1]);
        d->postfilter_on = (mode & 8) ? 1 : 0;
        run(d, out.data(), call);
    }
    decoder_destroy(d);
    return 0;
}
