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
