# Shared helpers for the module, test and benchmark folders.
#
#   folivo_library(NAME [SOURCES files…] [DEPS targets…] [EXCLUDE names…])
#     A static library from the .cpp/.h files of the calling folder (not its sub-folders) plus
#     SOURCES. Everything includes from Source/ ("Platform/Foundation/PropertyList.h").
#   folivo_test(NAME [SOURCES files…] [DEPS targets…])
#     One GoogleTest executable per area from the calling folder's .cpp files, linked to the
#     shared test main, registered with CTest. A suite named "…Child" whose cases are DISABLED_
#     holds the child processes of other tests (started with --gtest_filter and
#     --gtest_also_run_disabled_tests): it is not registered, and a whole run skips it.
#   folivo_bench(NAME SOURCES files… DEPS targets…)

set(FOLIVO_PCH_CORE <QtCore/QString> <QtCore/QVariant> <QtCore/QByteArray> <QtCore/QList>
    <QtCore/QHash> <QtCore/QMap> <QtCore/QDateTime> <QtCore/QFile> <QtCore/QDir>
    <QtCore/QFileInfo> <QtCore/QObject> <functional> <memory> <mutex> <vector> <expected>)

# One precompiled header serves every library and one every test program (libraries are built
# with -fPIC, programs with -fPIE, and g++ refuses a header made with the other). A header per
# target cost about 190 MB of disk and a compile each; the macros that differ between targets
# (Qt module and test-folder definitions) are not read by these headers, so g++ accepts the
# shared one, and -Winvalid-pch would say otherwise.
function(folivo_pch_holders)
  add_library(folivo_pch_library STATIC ${CMAKE_SOURCE_DIR}/cmake/PchHolder.cpp)
  target_link_libraries(folivo_pch_library PUBLIC Qt6::Core Threads::Threads)
  target_precompile_headers(folivo_pch_library PRIVATE ${FOLIVO_PCH_CORE})
  folivo_apply_warnings(folivo_pch_library)
  add_executable(folivo_pch_test ${CMAKE_SOURCE_DIR}/cmake/PchHolderMain.cpp)
  target_link_libraries(folivo_pch_test PRIVATE GTest::gtest Qt6::Core Threads::Threads)
  target_precompile_headers(folivo_pch_test PRIVATE ${FOLIVO_PCH_CORE} <gtest/gtest.h>)
  folivo_apply_warnings(folivo_pch_test)
endfunction()

function(folivo_apply_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  # _REENTRANT comes with the pkg-config flags of some libraries; defined everywhere, it keeps the
  # shared precompiled headers valid for every target.
  target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS POINTERHOLDER_TRANSITION=4 _REENTRANT)
endfunction()

# The files that include qpdf's headers. clang 16 with libstdc++ 12 cannot compile qpdf 11's
# JSON.hh as C++20 or later (a class's defaulted destructor instantiates the destructor of a
# std::vector of the class while it is still incomplete); as C++17 it can. So clang compiles these
# files as C++17, without the __cpp_concepts raise (which makes libstdc++ use concepts), and
# without the shared precompiled header (made as C++23): they use nothing newer than C++17 and
# include no header that does. g++ compiles them as every other file.
function(folivo_qpdf_sources)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "-std=c++17;-U__cpp_concepts"
                                SKIP_PRECOMPILE_HEADERS ON)
  endif()
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
  target_precompile_headers(${name} REUSE_FROM folivo_pch_library)
  folivo_apply_warnings(${name})
endfunction()

# SERIAL: the cases run alone, one at a time (they drive a real program on an X server and
# wait on it, so a machine loaded by the rest of the suite would only make them slower).
# TIMEOUT: seconds before CTest gives a case up as hung (300 by default). A case that drives the
# real program for a long while wants more: on a machine loaded to four times its cores the
# longest one takes over five minutes, and that is slow, not hung.
function(folivo_test name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  set(serial)
  if(ARG_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_executable(${name} ${files} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE folivo_testsupport ${ARG_DEPS})
  target_precompile_headers(${name} REUSE_FROM folivo_pch_test)
  folivo_apply_warnings(${name})
  add_dependencies(${name} folivo_resources)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    TEST_FILTER "-*Child.DISABLED_*"
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${serial})
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
