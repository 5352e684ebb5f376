# The Motion-JPEG painter's path (decode, transform, draw into the surface) against a bare
# libjpeg-turbo decode of the same pictures.
camctl_add_bench(mjpeg_paint_bench
  SOURCES mjpeg_paint_bench.cpp
  LIBS viewer codec stream camsim_core JPEG::JPEG)
