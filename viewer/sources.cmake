# The panel, control and painters: the viewer library over the shared widgets.
set(VIEWER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/draw_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mjpeg_painter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paint_step.cpp
  ${CMAKE_CURRENT_LIST_DIR}/snapshot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/viewer_panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vuelo_ctrl.cpp
)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_folder.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpeg4_painter.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/viewer_panel_play.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/av_readouts.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/play_control.cpp)
list(APPEND VIEWER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/pan_tilt.cpp)
