# Image holder decoders: JPEG (with its Exif scan) and BMP.
camctl_add_fuzzer(jpeg_fuzzer SOURCES jpeg_fuzzer.cpp LIBS codec)
camctl_add_fuzzer(bmp_fuzzer SOURCES bmp_fuzzer.cpp LIBS codec)
