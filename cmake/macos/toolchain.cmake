# Cross-compiles elmpad for macOS on Linux with zig 0.11: clang 16 and libc++
# 16, the compiler and library of Xcode 15, with macOS's headers and its
# system library's symbols. The binaries cannot run here.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/macos/toolchain.cmake -DELMPAD_MACOS_ARCH=arm64 ...
# (or x86_64). zig comes from `npm ci --prefix cmake/macos`; llvm-ar and
# llvm-ranlib from Debian's llvm-19. scripts/macos_build does all of it.
set(ELMPAD_MACOS_ARCH arm64 CACHE STRING "the macOS architecture to build for (arm64 | x86_64)")
# try_compile projects run this file again and need the architecture too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ELMPAD_MACOS_ARCH)
if(ELMPAD_MACOS_ARCH STREQUAL "arm64")
  set(zig_target aarch64-macos)
elseif(ELMPAD_MACOS_ARCH STREQUAL "x86_64")
  set(zig_target x86_64-macos)
else()
  message(FATAL_ERROR "ELMPAD_MACOS_ARCH is arm64 or x86_64, not '${ELMPAD_MACOS_ARCH}'")
endif()

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${ELMPAD_MACOS_ARCH})
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/${zig_target}-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/${zig_target}-c++)
set(llvm_bin /usr/lib/llvm-19/bin)
find_program(CMAKE_AR llvm-ar HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_RANLIB llvm-ranlib HINTS ${llvm_bin} REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool HINTS ${llvm_bin} REQUIRED)

# Headers and libraries come from zig's macOS SDK, never from this machine's
# /usr. nlohmann/json, header-only, is the one package taken from the host,
# found through a folder of the build that links to it alone, so that no
# other header of the host comes along with its include path.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ELMPAD_HOST_JSON_PREFIX /usr CACHE PATH "where nlohmann/json is installed on this machine")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ELMPAD_HOST_JSON_PREFIX)
set(host_json ${CMAKE_BINARY_DIR}/host-json)
if(NOT EXISTS ${host_json}/include/nlohmann)
  file(MAKE_DIRECTORY ${host_json}/include ${host_json}/share/cmake)
  file(CREATE_LINK ${ELMPAD_HOST_JSON_PREFIX}/include/nlohmann ${host_json}/include/nlohmann SYMBOLIC)
  file(CREATE_LINK ${ELMPAD_HOST_JSON_PREFIX}/share/cmake/nlohmann_json ${host_json}/share/cmake/nlohmann_json
       SYMBOLIC)
endif()
set(CMAKE_FIND_ROOT_PATH ${host_json})
