folivo_bench(sidebar_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/SideBarBench.cpp DEPS folivo_sidebar Qt6::Widgets)
