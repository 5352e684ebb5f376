# MPEG-4 decoder, bounded entry point.
camctl_add_fuzzer(mpeg4_fuzzer SOURCES mpeg4_fuzzer.cpp LIBS codec)
