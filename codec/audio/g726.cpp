// The exported decoder: unpacking through the instance's bit reservoir, the G.726 decoder and
// the low-pass filter.

#include "codec/audio/g726.h"

#include "codec/audio/g726_adpcm.h"
#include "codec/audio/g726_lowpass.h"

#include <new>

struct G726Decoder
{
    g726::AdpcmState adpcm;
    g726::LowPassState filter;
    // Bits not yet decoded: the low `bitCount` bits of `bits`. A call ends with fewer bits than
    // its code size, so at most 4 are held and a whole byte always fits on top.
    uint32_t bits = 0;
    int bitCount = 0;
};

extern "C" {

G726Decoder* G726_decoder_create(void)
{
    return new (std::nothrow) G726Decoder();
}

int G726_decoder_destroy(G726Decoder* instance)
{
    if (!instance)
        return -1;
    delete instance;
    return 0;
}

int G726_dec(G726Decoder* instance, int code_bits, const unsigned char* data, int length,
             short* pcm)
{
    const g726::RateTables* rate = g726::TablesForBits(code_bits);
    if (!instance || !rate || length < 0 || (!data && length > 0))
        return 0;
    G726Decoder& d = *instance;
    const unsigned mask = (1u << code_bits) - 1;
    int produced = 0;
    int next = 0;
    for (;;) {
        if (d.bitCount < code_bits) {
            if (next == length)
                break;
            d.bits = (d.bits << 8) | data[next++];
            d.bitCount += 8;
        }
        d.bitCount -= code_bits;
        const unsigned code = (d.bits >> d.bitCount) & mask;
        const int sr = g726::DecodeCode(d.adpcm, *rate, code);
        pcm[produced++] = g726::LowPass(d.filter, g726::LinearOutput(sr));
    }
    return produced;
}

} // extern "C"
