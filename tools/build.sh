#!/usr/bin/env bash
# Configures and builds the trees: tools/build.sh [native|win32|win64|all] [targets...]
# win32 and win64 each build the plug-in, the reference host and every test
# for their architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
which=${1:-all}
shift || true
targets=()
for t in "$@"; do targets+=(--target "$t"); done
jobs=$(nproc 2>/dev/null || echo 2)

if [ "$which" = native ] || [ "$which" = all ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
  cmake --build build/native -j "$jobs" "${targets[@]}"
fi
if [ "$which" = win32 ] || [ "$which" = all ]; then
  cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build/win32 -j "$jobs" "${targets[@]}"
fi
if [ "$which" = win64 ] || [ "$which" = all ]; then
  cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  cmake --build build/win64 -j "$jobs" "${targets[@]}"
fi
