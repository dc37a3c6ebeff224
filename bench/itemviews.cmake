folivo_bench(itemviews_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ItemViewsBench.cpp DEPS folivo_itemviews Qt6::Widgets)
if(TARGET itemviews_bench)
  # The grid is fed by the same stand-in window its tests use.
  target_include_directories(itemviews_bench PRIVATE ${CMAKE_SOURCE_DIR}/Tests)
endif()
