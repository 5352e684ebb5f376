# The panel, control and painters; appended to the widget sources of CMakeLists.txt.
list(APPEND VIEWER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/camera_query.cpp
  ${CMAKE_CURRENT_LIST_DIR}/draw_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mjpeg_painter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paint_step.cpp
  ${CMAKE_CURRENT_LIST_DIR}/viewer_panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vuelo_ctrl.cpp
)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_folder.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpeg4_painter.cpp)
