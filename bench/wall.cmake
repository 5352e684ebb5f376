# The camera wall at full rate against the simulator as its own process (not a test: it takes
# minutes and the whole machine).
add_executable(wall_bench wall_bench.cpp)
target_include_directories(wall_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(wall_bench PRIVATE camhost_core platform Qt6::Widgets)
target_compile_definitions(wall_bench PRIVATE VUELO_MODULE="$<TARGET_FILE:vuelo>"
  CAMSIM_PROGRAM="$<TARGET_FILE:camsim>")
add_dependencies(wall_bench vuelo camsim)
