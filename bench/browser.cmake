folivo_bench(browser_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/BrowserBench.cpp DEPS folivo_browser Qt6::Gui)
