#!/usr/bin/env bash
# Configures and builds the trees: tools/build.sh [native|tsan|win32|win64|all] [targets...]
# win32 and win64 each build the plug-in, the reference host and every test
# for their architecture.
set -euo pipefail
cd "$(dirname "$0")/.."
which=${1:-all}
shift || true
targets=()
for t in "$@"; do targets+=(--target "$t"); done
jobs=$(nproc 2>/dev/null || echo 2)

# Two builds at once in one checkout would configure and write the same trees
# together; the second waits for the first instead. When the first has
# nothing to build it is done within seconds, and the wait goes unsaid; a
# longer wait is said, naming the build it waits for. The holder's pid is
# kept in the lock file.
mkdir -p build
lock=build/.build.lock
exec 9<>"$lock"
if ! flock -n 9 && ! flock -w 10 9; then
  holder=$(cat "$lock" 2>/dev/null || true)
  echo "build: waiting for the build running in this checkout${holder:+ (pid $holder)} to finish" >&2
  flock 9
fi
echo $$ >"$lock"

source tools/configure.sh

if [ "$which" = native ] || [ "$which" = all ]; then
  configure build/native -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
  cmake --build build/native -j "$jobs" "${targets[@]}"
fi
if [ "$which" = tsan ] || [ "$which" = all ]; then
  configure build/tsan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DCELLUMBRA_TSAN=ON
  cmake --build build/tsan -j "$jobs" --target unit_tests
fi
if [ "$which" = win32 ] || [ "$which" = all ]; then
  configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
  cmake --build build/win32 -j "$jobs" "${targets[@]}"
fi
if [ "$which" = win64 ] || [ "$which" = all ]; then
  configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
  cmake --build build/win64 -j "$jobs" "${targets[@]}"
fi
