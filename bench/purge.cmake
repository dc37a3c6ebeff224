folivo_bench(purge_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PurgeBench.cpp
    DEPS folivo_store folivo_textindex folivo_mainwindow_root Qt6::Widgets)
