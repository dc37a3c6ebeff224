folivo_bench(textindex_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextIndexBench.cpp DEPS folivo_textindex PkgConfig::SQLITE3)
