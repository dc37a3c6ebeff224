folivo_bench(mainwindow_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainWindowBench.cpp
    DEPS folivo_mainwindow_root PkgConfig::SQLITE3 Qt6::Widgets)
