camctl_add_test(color_tests ONE_THREAD
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/yuv2rgb_test.cpp ${CMAKE_CURRENT_LIST_DIR}/yuv2rgb_levels_test.cpp
  LIBS codec)
