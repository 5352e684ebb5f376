#ifndef CODEC_MOTION_MOTION_GRID_H
#define CODEC_MOTION_MOTION_GRID_H
/* Changed-sample counts per 16 x 16 cell between two 8-bit planes of width x height bytes
 * (stride = width). `grid` receives (width/16 + 1) x (height/16 + 1) bytes, row-major: one
 * more column and row than the whole cells, so a dimension that is a multiple of 16 leaves its
 * last column or row 0. A sample counts when |a - b| > threshold; counts are capped at 255.
 * If the counters cannot be allocated the grid is zeroed. Negative sizes or null pointers do
 * nothing. */

#ifdef __cplusplus
extern "C" {
#endif

void MotionDetect(const unsigned char* a, const unsigned char* b, unsigned char* grid, int width,
                  int height, int threshold);

#ifdef __cplusplus
}
#endif

#endif
