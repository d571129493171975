# Two ways to spend less time compiling, for builds that are built often
# and whose every file need not be checked alone (scripts/test turns them
# on). Both are off by default: a user's or a packager's build is unchanged.
#
# ELMPAD_TESTS_UNOPTIMIZED: the tests' own code (and GoogleTest, when built
# from source) compiles at -O0, where most of a test program's compile time
# goes; the product code they link keeps the build type's optimisation, so
# what is tested is what ships.
#
# ELMPAD_PRECOMPILE_HEADERS: the standard, JSON and GoogleTest headers that
# nearly every file includes are parsed once per build instead of once per
# file: one header for the product's code and one for the tests' (their
# flags differ). A precompiled header is included in every file, so a file
# that misses an include compiles anyway: a build that checks each file alone
# must leave it off.

option(ELMPAD_TESTS_UNOPTIMIZED "compile the tests' own code without optimisation" OFF)
option(ELMPAD_PRECOMPILE_HEADERS "precompile the common headers once per build" OFF)

set(elmpad_common_headers
    <algorithm> <chrono> <cstddef> <cstdint> <expected> <filesystem> <functional> <map> <memory> <mutex>
    <optional> <string> <string_view> <thread> <utility> <variant> <vector> <nlohmann/json.hpp>)

# Marks TARGET as test code (called by elmpad_test_program and for the
# libraries only tests link).
function(elmpad_test_code)
  foreach(target IN LISTS ARGN)
    set_property(TARGET ${target} PROPERTY ELMPAD_TEST_CODE ON)
    if(ELMPAD_TESTS_UNOPTIMIZED)
      # After the build type's flags, so it is the -O that counts.
      target_compile_options(${target} PRIVATE -O0)
    endif()
  endforeach()
endfunction()

function(elmpad_targets_below directory out)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    elmpad_targets_below(${subdirectory} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Called once every target is defined: each C++ target of this project
# reuses the precompiled header of its kind.
function(elmpad_precompile_headers)
  if(NOT ELMPAD_PRECOMPILE_HEADERS)
    return()
  endif()
  set(empty ${CMAKE_CURRENT_BINARY_DIR}/precompiled_host.cc)
  file(WRITE ${empty} "")
  add_library(elmpad_product_headers OBJECT ${empty})
  target_link_libraries(elmpad_product_headers PRIVATE nlohmann_json::nlohmann_json)
  target_precompile_headers(elmpad_product_headers PRIVATE ${elmpad_common_headers})
  set(hosts elmpad_product_headers)
  if(ELMPAD_TESTS)
    add_library(elmpad_test_headers OBJECT ${empty})
    target_link_libraries(elmpad_test_headers PRIVATE nlohmann_json::nlohmann_json GTest::gtest)
    target_precompile_headers(elmpad_test_headers PRIVATE ${elmpad_common_headers} <gtest/gtest.h>)
    elmpad_test_code(elmpad_test_headers)
    list(APPEND hosts elmpad_test_headers)
  endif()

  elmpad_targets_below(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    get_target_property(sources ${target} SOURCES)
    # Not GoogleTest's own targets, not the C programs of the benchmark.
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${source_dir}" ours)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$" OR target IN_LIST hosts
       OR NOT ours OR sources MATCHES "\\.c(;|$)")
      continue()
    endif()
    get_target_property(test_code ${target} ELMPAD_TEST_CODE)
    if(test_code)
      target_precompile_headers(${target} REUSE_FROM elmpad_test_headers)
    else()
      target_precompile_headers(${target} REUSE_FROM elmpad_product_headers)
    endif()
  endforeach()
endfunction()
