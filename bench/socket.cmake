folivo_bench(socket_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/SocketBench.cpp DEPS folivo_twclient folivo_twserver folivo_socket)
