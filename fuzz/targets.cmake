# The libFuzzer targets (clang), included by the project when ELMPAD_FUZZ is
# on: by fuzz/CMakeLists.txt for a build of their own, or by a sanitizer
# build of the whole project that builds them beside the tests. The code
# under test is compiled with coverage instrumentation (-fsanitize=
# fuzzer-no-link, set with the option); only the targets link libFuzzer's
# main. They land at the top of the build tree, and their own warnings stop
# the build even where the project's do not.
set(fuzz_dir ${PROJECT_SOURCE_DIR}/fuzz)
add_library(fuzz_support STATIC ${fuzz_dir}/support.cc)
target_include_directories(fuzz_support PUBLIC ${fuzz_dir})
target_link_libraries(fuzz_support PUBLIC elmpad_cli elmpad_mcp)
target_compile_options(fuzz_support PRIVATE -Werror)

foreach(name cli_text mcp_lines request_decode sections server_msg)
  add_executable(${name}_fuzz ${fuzz_dir}/${name}_fuzz.cc)
  target_link_libraries(${name}_fuzz PRIVATE fuzz_support)
  target_compile_options(${name}_fuzz PRIVATE -Werror)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name}_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endforeach()
# The headless app's line splitting and section model.
target_link_libraries(request_decode_fuzz PRIVATE elmwrite_headless_text)
target_link_libraries(sections_fuzz PRIVATE elmwrite_headless_text)
