# The macOS cross-build on Linux (cmake/macos/toolchain.cmake): zig 0.11,
# whose clang 16 and libc++ 16 are Xcode 15's, pinned by
# cmake/macos/package-lock.json; LLVM's binary tools from Debian's llvm-19;
# GoogleTest built from Debian's source package. Sourced after prepare.sh.

macos_tools=/usr/lib/llvm-19/bin

install_macos_toolchain() {
  install_packages llvm-19 googletest
  command -v npm >/dev/null 2>&1 || install_packages nodejs npm
  local zig=cmake/macos
  if [ ! -f "$zig/node_modules/.package-lock.json" ] ||
     [ "$zig/package-lock.json" -nt "$zig/node_modules/.package-lock.json" ]; then
    npm ci --prefix "$zig" --no-audit --no-fund --loglevel=error >/dev/null
  fi
}

configure_macos() {  # configure_macos ARCH DIR CMAKE_OPTION...: ARCH is arm64 or x86_64
  cmake -S . -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/macos/toolchain.cmake -DELMPAD_MACOS_ARCH="$1" \
    -DELMPAD_GTEST_SOURCE=/usr/src/googletest "${@:3}" >/dev/null
}

# Both slices in one Mach-O file. Joining copies each slice whole, so the
# arm64 slice keeps the ad hoc signature zig's linker gave it, without which
# Apple silicon does not run it.
make_universal() {  # make_universal OUT ARM64_BINARY X86_64_BINARY
  "$macos_tools/llvm-lipo" -create "$2" "$3" -output "$1"
}

check_universal() {  # check_universal BINARY: both slices, the arm64 one signed
  local archs
  archs=$("$macos_tools/llvm-lipo" -archs "$1" | tr ' ' '\n' | sort | xargs)
  [ "$archs" = "arm64 x86_64" ] || { echo "$1: slices '$archs', not arm64 and x86_64" >&2; return 1; }
  local slice
  slice=$(mktemp /tmp/elmpad-slice-XXXXXX)
  "$macos_tools/llvm-lipo" "$1" -thin arm64 -output "$slice"
  if ! "$macos_tools/llvm-otool" -l "$slice" | grep -c LC_CODE_SIGNATURE >/dev/null; then
    rm -f "$slice"
    echo "$1: its arm64 slice has no code signature" >&2
    return 1
  fi
  rm -f "$slice"
  echo "$1: universal Mach-O ($archs), the arm64 slice signed"
}
