# What Homebrew includes at the top of every CMake build it runs
# (CMAKE_PROJECT_TOP_LEVEL_INCLUDES): a dependency provider that stops any
# FetchContent download, since Homebrew builds have no network. formula_shim.rb
# passes it the same way, so a build that would fetch fails here too.
cmake_minimum_required(VERSION 3.24)

macro(refuse_fetchcontent method name)
  message(FATAL_ERROR "FetchContent of '${name}' refused: a Homebrew build has no network; "
                      "make it a formula dependency")
endmacro()

cmake_language(SET_DEPENDENCY_PROVIDER refuse_fetchcontent SUPPORTED_METHODS FETCHCONTENT_MAKEAVAILABLE_SERIAL)
