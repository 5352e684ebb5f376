/* The motion grid's header compiles alone as C and links with C linkage. */
#include "codec/motion/motion_grid.h"

int motion_grid_header_compiles_as_c(void);
int motion_grid_header_compiles_as_c(void)
{
    unsigned char a[1] = {0}, b[1] = {9}, grid[1] = {7};
    MotionDetect(a, b, grid, 1, 1, 0);
    return grid[0];
}
