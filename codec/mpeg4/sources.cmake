# MPEG-4 Visual decoder: one file per stage.
list(APPEND CODEC_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decoder_entry.c
  ${CMAKE_CURRENT_LIST_DIR}/dsp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsp_avx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsp_sse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/headers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/idct.cpp
  ${CMAKE_CURRENT_LIST_DIR}/macroblock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/motion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/postfilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upscale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_path.cpp
)

# The AVX2 kernels get their own flags; the table calls them only where the CPU has AVX2.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/dsp_avx2.cpp PROPERTIES COMPILE_OPTIONS -mavx2)
endif()

# Fuzz builds: the pixel kernels run (and ASan checks them) without coverage. Their branches
# follow sample values, not the bitstream, and the features they add only slow the fuzzer.
if(CAMCTL_FUZZ)
  set_property(SOURCE
    ${CMAKE_CURRENT_LIST_DIR}/dsp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dsp_avx2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dsp_sse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/idct.cpp
    ${CMAKE_CURRENT_LIST_DIR}/postfilter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/upscale.cpp
    APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)
endif()
