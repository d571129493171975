# elmpad_test_program(NAME SOURCES <file>... LIBRARIES <lib>...
#                     [DEPENDS <target>...] [THREADED] [LIST_WHEN_RUN] [TIMEOUT <seconds>])
#
# One GoogleTest program and its tests in ctest. DEPENDS: programs it runs.
# THREADED: it tests threaded code, so it also runs under ThreadSanitizer
# (label "threaded", built by the threaded_tests target). LIST_WHEN_RUN: its
# tests are listed when ctest runs, so a new data-driven case needs no rebuild.

function(elmpad_test_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "THREADED;LIST_WHEN_RUN" "TIMEOUT" "SOURCES;LIBRARIES;DEPENDS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  elmpad_test_code(${name})
  if(arg_DEPENDS)
    add_dependencies(${name} ${arg_DEPENDS})
  endif()
  set(properties TIMEOUT ${arg_TIMEOUT})
  if(NOT arg_TIMEOUT)
    set(properties TIMEOUT 60)
  endif()
  if(arg_THREADED)
    add_dependencies(threaded_tests ${name})
    list(APPEND properties LABELS threaded)
  endif()
  # A cross-build's programs cannot run here to list their tests.
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(mode)
  if(arg_LIST_WHEN_RUN)
    set(mode DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${mode} PROPERTIES ${properties})
endfunction()
