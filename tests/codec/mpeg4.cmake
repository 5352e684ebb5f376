# MPEG-4 decoder: unit tests, and conformance against libavcodec on streams
# made by scripts/make-mpeg4-streams.sh (small ones committed in mpeg4_data).
pkg_check_modules(AVCODEC REQUIRED IMPORTED_TARGET libavcodec)

add_library(mpeg4_testsupport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/mpeg4_narrow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mpeg4_reference.cpp)
target_include_directories(mpeg4_testsupport PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mpeg4_testsupport PUBLIC PkgConfig::AVCODEC PkgConfig::AVUTIL)

add_executable(mpeg4_narrow ${CMAKE_CURRENT_LIST_DIR}/mpeg4_narrow_tool.cpp)
target_link_libraries(mpeg4_narrow PRIVATE mpeg4_testsupport)

camctl_add_test(mpeg4_tests ONE_THREAD
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mpeg4_c_api.c
    ${CMAKE_CURRENT_LIST_DIR}/mpeg4_conformance_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg4_decoder_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg4_dsp_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mpeg4_kernels_test.cpp
  LIBS codec mpeg4_testsupport)
target_compile_definitions(mpeg4_tests PRIVATE
  MPEG4_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/mpeg4_data"
  MPEG4_GEN_DIR="${CMAKE_CURRENT_BINARY_DIR}/mpeg4_streams"
  MPEG4_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/make-mpeg4-streams.sh"
  MPEG4_NARROW_TOOL="$<TARGET_FILE:mpeg4_narrow>")
add_dependencies(mpeg4_tests mpeg4_narrow)
