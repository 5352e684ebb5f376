// The G.726 decoder on arbitrary input. The first byte picks the code size (including sizes
// that must decode nothing) and the second a frame length; the rest is cut into frames, each
// copied into an exact-size buffer and decoded into an exact-size sample buffer of the
// documented bound, so any read or write past either shows.

#include "codec/audio/g726.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int codeBits = data[0] % 8;
    const size_t frame = size_t(data[1]);
    data += 2;
    size -= 2;
    G726Decoder* d = G726_decoder_create();
    if (!d)
        return 0;
    const bool decodes = codeBits >= 2 && codeBits <= 5;
    size_t at = 0;
    do {
        const size_t n = frame == 0 ? 0 : std::min(frame, size - at);
        std::vector<uint8_t> in(data + at, data + at + n);
        const size_t bound = decodes ? (8 * n + 4) / size_t(codeBits) : 0;
        std::vector<short> pcm(bound);
        const int got = G726_dec(d, codeBits, in.data(), int(n), pcm.data());
        if (got < 0 || size_t(got) > bound || (decodes && size_t(got) < 8 * n / size_t(codeBits)))
            std::abort();
        at += n;
    } while (at < size && frame != 0);
    G726_decoder_destroy(d);
    return 0;
}
