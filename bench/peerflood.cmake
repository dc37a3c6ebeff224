folivo_bench(peerflood_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PeerFloodBench.cpp DEPS folivo_twclient folivo_twserver folivo_socket)
