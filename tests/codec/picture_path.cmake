camctl_add_test(picture_path_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_path_test.cpp
  LIBS codec)
target_compile_definitions(picture_path_tests PRIVATE
  MPEG4_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/mpeg4_data")
