folivo_bench(preview_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PreviewBench.cpp DEPS folivo_preview Qt6::Widgets)
