folivo_bench(indexfolder_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/IndexFolderBench.cpp DEPS folivo_indexfolder Qt6::Gui)
