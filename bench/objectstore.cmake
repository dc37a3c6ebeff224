folivo_bench(objectstore_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ObjectStoreBench.cpp DEPS folivo_objectstore)
if(TARGET objectstore_bench)
  target_compile_definitions(objectstore_bench PRIVATE
    OBJECTSTORE_RESOURCES="${CMAKE_SOURCE_DIR}/Resources")
endif()
