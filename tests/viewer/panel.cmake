# The panel, control and painters, headless against the simulated camera.
camctl_add_test(viewer_panel_tests WIDGETS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/panel_test.cpp ${CMAKE_CURRENT_LIST_DIR}/paint_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/snapshot_test.cpp ${CMAKE_CURRENT_LIST_DIR}/lipsync_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/mpeg_panel_test.cpp ${CMAKE_CURRENT_LIST_DIR}/panel_wait_test.cpp
  LIBS viewer camsim_core)
# A screenshot of the playing panel is kept for people to look at.
target_compile_definitions(viewer_panel_tests PRIVATE
  CAMCTL_ARTIFACT_DIR="${PROJECT_BINARY_DIR}/artifacts")

# The play life cycle on real workers without widgets: runs under TSan with the threaded parts.
camctl_add_test(viewer_play_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/play_control_test.cpp
  LIBS viewer camsim_core)
