# The Motion-JPEG parser on a recorded simulator stream, in MB/s.
camctl_add_bench(mjpeg_parser_bench
  SOURCES mjpeg_parser_bench.cpp
  LIBS stream camsim_core)

# The ASF parser on a recorded simulator stream (640 x 480 MPEG-4 with audio), in MB/s.
camctl_add_bench(asf_parser_bench
  SOURCES asf_parser_bench.cpp
  LIBS stream camsim_core)
