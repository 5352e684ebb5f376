# The Motion-JPEG parser on a recorded simulator stream, in MB/s.
camctl_add_bench(mjpeg_parser_bench
  SOURCES mjpeg_parser_bench.cpp
  LIBS stream camsim_core)
