# The G.726 decoder on any bytes, code size and framing.
camctl_add_fuzzer(g726_fuzzer SOURCES g726_fuzzer.cpp LIBS codec)
