/* The public header compiled as C: a C caller's view of the interface. */
#include "codec/mpeg4/decoder.h"

int mpeg4_c_api_check(void)
{
    DECODER* d = decoder_create();
    /* The length-less call wants slack past the data: 16 zero bytes. */
    unsigned char zeros[16] = {0};
    unsigned char out[16];
    int used = -1;
    int ok;
    if (!d)
        return 0;
    ok = d->width == 1024 && d->height == 768 && d->first_call == 1 && d->upscaled == 1 && d->postfilter_on == 1;
    ok = ok && decoder_decode(d, out, zeros, &used) == 1 && used == 4;
    ok = ok && decoder_destroy(d) == 0 && decoder_destroy(0) == -1;
    return ok;
}
