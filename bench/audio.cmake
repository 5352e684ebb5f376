# The G.726 decoder against spandsp's, samples per second, in one run.
if(NOT TARGET PkgConfig::SPANDSP)
  pkg_check_modules(SPANDSP REQUIRED IMPORTED_TARGET spandsp)
endif()
camctl_add_bench(g726_bench
  SOURCES g726_bench.cpp
  LIBS codec PkgConfig::SPANDSP)
