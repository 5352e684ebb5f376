# The Motion-JPEG painter's path (decode, transform, draw into the surface) against a bare
# libjpeg-turbo decode of the same pictures.
camctl_add_bench(mjpeg_paint_bench
  SOURCES mjpeg_paint_bench.cpp
  LIBS viewer codec stream camsim_core JPEG::JPEG)

# YUV to RGB at 640 x 480 against libyuv and libswscale, and the MPEG-4 painter's path (decode,
# convert, draw into the surface) against libavcodec + libswscale, each side by side in one run.
pkg_check_modules(SWSCALE REQUIRED IMPORTED_TARGET libswscale)
if(NOT TARGET PkgConfig::AVCODEC)
  pkg_check_modules(AVCODEC REQUIRED IMPORTED_TARGET libavcodec)
endif()
find_library(LIBYUV yuv REQUIRED)
add_executable(yuv_bench yuv_bench.cpp)
target_include_directories(yuv_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(yuv_bench PRIVATE codec PkgConfig::SWSCALE PkgConfig::AVUTIL ${LIBYUV})
add_executable(mpeg4_paint_bench mpeg4_paint_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/codec/mpeg4_reference.cpp)
target_include_directories(mpeg4_paint_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(mpeg4_paint_bench PRIVATE viewer codec stream camsim_core
  PkgConfig::SWSCALE PkgConfig::AVCODEC PkgConfig::AVUTIL)
