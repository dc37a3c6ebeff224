folivo_bench(startup_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/StartupBench.cpp DEPS folivo_store PkgConfig::SQLITE3)
if(TARGET startup_bench)
  # It starts the program itself.
  add_dependencies(startup_bench folivo2)
  target_compile_definitions(startup_bench PRIVATE FOLIVO_PROGRAM="$<TARGET_FILE:folivo2>")
endif()
