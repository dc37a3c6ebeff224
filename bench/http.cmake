folivo_bench(http_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/HTTPBench.cpp DEPS folivo_http PkgConfig::ZLIB)
