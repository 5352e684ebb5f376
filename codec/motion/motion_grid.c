#include "codec/motion/motion_grid.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

void MotionDetect(const unsigned char* a, const unsigned char* b, unsigned char* grid, int width,
                  int height, int threshold)
{
    if (!a || !b || !grid || width < 0 || height < 0)
        return;
    const size_t w = (size_t)width;
    const size_t h = (size_t)height;
    const size_t columns = w / 16 + 1;
    const size_t cells = columns * (h / 16 + 1);

    uint32_t* counters = (uint32_t*)calloc(cells, sizeof *counters);
    if (!counters) {
        memset(grid, 0, cells);
        return;
    }
    for (size_t y = 0; y < h; ++y) {
        const unsigned char* ra = a + y * w;
        const unsigned char* rb = b + y * w;
        uint32_t* row = counters + (y / 16) * columns;
        /* Whole 16-sample runs share one counter, so the cell index is not divided per sample. */
        for (size_t x0 = 0; x0 < w; x0 += 16) {
            const size_t x1 = x0 + 16 < w ? x0 + 16 : w;
            uint32_t n = 0;
            for (size_t x = x0; x < x1; ++x) {
                const int d = (int)ra[x] - (int)rb[x];
                n += (uint32_t)((d < 0 ? -d : d) > threshold);
            }
            row[x0 / 16] += n;
        }
    }
    for (size_t i = 0; i < cells; ++i)
        grid[i] = (unsigned char)(counters[i] > 255 ? 255 : counters[i]);
    free(counters);
}
