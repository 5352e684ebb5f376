# G.726 decoder, sound devices and audio player. spandsp's G.726 codec is the outside oracle:
# its encoder makes the test signals and its decoder is the bit-exact reference.
if(NOT TARGET PkgConfig::SPANDSP)
  pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
endif()
camctl_add_test(audio_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/audio_player_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/g726_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/g726_header_test.c
  LIBS codec platform PkgConfig::SPANDSP)
