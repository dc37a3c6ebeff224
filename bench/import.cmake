folivo_bench(import_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ImportBench.cpp DEPS folivo_import Qt6::Gui)
