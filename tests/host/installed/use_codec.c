/* A C program of someone else's, built against the installed headers and the viewer module. */
#include "codec/audio/g726.h"
#include "codec/color/yuv2rgb.h"
#include "codec/motion/motion_grid.h"
#include "codec/mpeg4/decoder.h"
#include "module/module_exports.h"

#include <stdio.h>
#include <string.h>

int main(void)
{
    DECODER* d = decoder_create();
    if (!d || d->width != 1024 || d->height != 768 || decoder_destroy(d) != 0)
        return 1;

    /* Y 16 and neutral chroma are black. */
    unsigned char yuv[8 + 2 + 2], rgb[4 * 2 * 3]; /* Y, then U and V at half size */
    memset(yuv, 16, 8);
    memset(yuv + 8, 128, 4);
    memset(rgb, 0xAA, sizeof rgb);
    init_YUV2RGB_tab();
    ConvertYUVtoRGB(yuv, rgb, 4, 2);
    delete_YUV2RGB_tab();
    for (size_t i = 0; i < sizeof rgb; ++i)
        if (rgb[i] != 0)
            return 2;

    unsigned char a[16 * 16] = {0}, b[16 * 16] = {0}, grid[4];
    b[5] = 99;
    MotionDetect(a, b, grid, 16, 16, 10);
    if (grid[0] != 1 || grid[1] != 0)
        return 3;

    G726Decoder* g = G726_decoder_create();
    short pcm[16];
    const unsigned char codes[2] = {0x12, 0x34};
    if (!g || G726_dec(g, 4, codes, 2, pcm) != 4 || G726_decoder_destroy(g) != 0)
        return 4;

    if (DllCanUnloadNow() != 0)
        return 5;
    puts("ok");
    return 0;
}
