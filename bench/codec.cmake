# The image holder's JPEG decode against a bare libjpeg decode of the same frame.
camctl_add_bench(image_holder_bench
  SOURCES image_holder_bench.cpp
  LIBS codec JPEG::JPEG)
