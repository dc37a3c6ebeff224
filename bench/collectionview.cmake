folivo_bench(collectionview_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/CollectionViewBench.cpp DEPS folivo_collectionview Qt6::Widgets)
if(TARGET collectionview_bench)
  # The grid is fed by the same stand-in window its tests use.
  target_include_directories(collectionview_bench PRIVATE ${CMAKE_SOURCE_DIR}/Tests)
endif()
