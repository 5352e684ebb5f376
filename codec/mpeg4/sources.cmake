# MPEG-4 Visual decoder: one file per stage.
list(APPEND CODEC_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decoder_entry.c
  ${CMAKE_CURRENT_LIST_DIR}/headers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/idct.cpp
  ${CMAKE_CURRENT_LIST_DIR}/macroblock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/motion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/postfilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upscale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_path.cpp
)

# Fuzz builds: the pixel kernels run (and ASan checks them) without coverage. Their branches
# follow sample values, not the bitstream, and the features they add only slow the fuzzer.
if(CAMCTL_FUZZ)
  set_source_files_properties(
    ${CMAKE_CURRENT_LIST_DIR}/idct.cpp
    ${CMAKE_CURRENT_LIST_DIR}/postfilter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/upscale.cpp
    PROPERTIES COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)
endif()
