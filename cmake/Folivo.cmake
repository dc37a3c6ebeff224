# Shared helpers for the module, test and benchmark folders.
#
#   folivo_library(NAME [SOURCES files…] [DEPS targets…] [EXCLUDE names…])
#     A static library from the .cpp/.h files of the calling folder (not its sub-folders) plus
#     SOURCES. Everything includes from Source/ ("Platform/Foundation/PropertyList.h").
#   folivo_test(NAME [SOURCES files…] [DEPS targets…])
#     One GoogleTest executable per area from the calling folder's .cpp files, linked to the
#     shared test main, registered with CTest.
#   folivo_bench(NAME SOURCES files… DEPS targets…)

set(FOLIVO_PCH_CORE <QtCore/QString> <QtCore/QVariant> <QtCore/QByteArray> <QtCore/QList>
    <QtCore/QHash> <QtCore/QMap> <QtCore/QDateTime> <QtCore/QFile> <QtCore/QDir>
    <QtCore/QFileInfo> <QtCore/QObject> <functional> <memory> <mutex> <vector> <expected>)

function(folivo_apply_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS POINTERHOLDER_TRANSITION=4)
endfunction()

function(folivo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;EXCLUDE" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM files ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  add_library(${name} STATIC ${files} ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/Source)
  target_link_libraries(${name} PUBLIC Qt6::Core Threads::Threads ${ARG_DEPS})
  target_precompile_headers(${name} PRIVATE ${FOLIVO_PCH_CORE})
  folivo_apply_warnings(${name})
endfunction()

function(folivo_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(${name} ${files} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE folivo_testsupport ${ARG_DEPS})
  target_precompile_headers(${name} PRIVATE ${FOLIVO_PCH_CORE} <gtest/gtest.h>)
  folivo_apply_warnings(${name})
  add_dependencies(${name} folivo_resources)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

function(folivo_bench name)
  if(NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_DEPS})
  folivo_apply_warnings(${name})
  add_dependencies(${name} folivo_resources)
endfunction()

include(GoogleTest)

# FOLIVO_SANITIZE ("address,undefined" or "thread") instruments every target; FOLIVO_FUZZ adds
# libFuzzer's coverage to everything (address,undefined unless another set is named), and
# fuzz/ then links its targets against libFuzzer instead of the replay main.
macro(folivo_apply_sanitizers)
  if(FOLIVO_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      message(FATAL_ERROR "FOLIVO_FUZZ needs clang (CC=clang-16 CXX=clang++-16; scripts/setup --fuzz)")
    endif()
    if(NOT FOLIVO_SANITIZE)
      set(FOLIVO_SANITIZE "address,undefined")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
  # libstdc++ 12 offers std::expected only where __cpp_concepts says 202002; clang before 19
  # implements what <expected> needs (clang 16: conditionally trivial members) but says 201907.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 19)
    add_compile_options(-D__cpp_concepts=202002L -Wno-macro-redefined)
  endif()
  if(FOLIVO_SANITIZE)
    add_compile_options(-fsanitize=${FOLIVO_SANITIZE} -fno-omit-frame-pointer -fno-optimize-sibling-calls)
    add_link_options(-fsanitize=${FOLIVO_SANITIZE})
    add_compile_definitions(FOLIVO_SANITIZED=1)
  endif()
endmacro()
