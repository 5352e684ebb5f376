# Motion grid: changed-sample counts per 16 x 16 cell.
list(APPEND CODEC_SOURCES ${CMAKE_CURRENT_LIST_DIR}/motion_grid.c)
