folivo_bench(safebox_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/SafeBoxBench.cpp DEPS folivo_safebox folivo_diskimage)
if(TARGET safebox_bench)
  add_dependencies(safebox_bench folivo-hdiutil)
endif()
