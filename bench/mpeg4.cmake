# MPEG-4 decoder against libavcodec and libxvidcore on the conformance streams. A plain
# program: the decoders are timed side by side in one run and the ratios printed.
if(TARGET mpeg4_narrow)
  pkg_check_modules(AVCODEC REQUIRED IMPORTED_TARGET libavcodec)
  # The second peer; Debian's libxvidcore-dev has no pkg-config file.
  find_library(XVIDCORE_LIBRARY xvidcore REQUIRED)
  add_executable(mpeg4_bench
    mpeg4_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/codec/mpeg4_narrow.cpp
    ${PROJECT_SOURCE_DIR}/tests/codec/mpeg4_reference.cpp)
  target_include_directories(mpeg4_bench PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(mpeg4_bench PRIVATE codec PkgConfig::AVCODEC PkgConfig::AVUTIL ${XVIDCORE_LIBRARY})
  target_compile_definitions(mpeg4_bench PRIVATE
    MPEG4_BENCH_STREAMS="${CMAKE_BINARY_DIR}/tests/codec/mpeg4_streams"
    MPEG4_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/make-mpeg4-streams.sh"
    MPEG4_NARROW_TOOL="$<TARGET_FILE:mpeg4_narrow>")
endif()
