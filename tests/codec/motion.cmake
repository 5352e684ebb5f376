camctl_add_test(motion_grid_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/motion_grid_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/motion_grid_c.c
  LIBS codec)
