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

# build DIR TARGET_OPTIONS...: builds; once Ninja names the number of steps,
# says in a line on standard error how many and about how long they take (a
# tree that is up to date says nothing). Ninja prints each step as [n/m] on
# standard output.
build() {
  local dir=$1
  shift
  cmake --build "$dir" -j "$jobs" "$@" | announce_steps "$dir"
}
announce_steps() {
  # About 1.5 s a step for one processor, on the safe side: here on two
  # shared cores the plug-in and the host (53 steps) took 11 s to build
  # from nothing, the whole 32-bit tree (163 steps, the tests the heavy
  # ones) about 2 minutes.
  awk -v dir="$1" -v jobs="$jobs" '
    !said && /^\[[0-9]+\/[0-9]+\] / && !/Re-checking globbed|Re-running CMake/ {
      said = 1
      count = $1; gsub(/[^0-9\/]/, "", count); split(count, n, "/")
      seconds = n[2] * 1.5 / jobs
      estimate = seconds < 45 ? "under a minute" : seconds < 90 ? "about a minute" \
        : sprintf("about %d minutes", int((seconds + 30) / 60))
      # A step or two is over before the line would be read.
      if (seconds >= 10) {
        printf "build: %s: %d steps to build, %s on %d processors\n", dir, n[2], estimate, jobs > "/dev/stderr"
        fflush("/dev/stderr")
      }
    }
    { print; fflush() }'
}

if [ "$which" = native ] || [ "$which" = all ]; then
  configure build/native -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
  build build/native "${targets[@]}"
fi
if [ "$which" = tsan ] || [ "$which" = all ]; then
  configure build/tsan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DCELLUMBRA_TSAN=ON
  build build/tsan --target unit_tests
fi
if [ "$which" = win32 ] || [ "$which" = all ]; then
  configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
  build build/win32 "${targets[@]}"
fi
if [ "$which" = win64 ] || [ "$which" = all ]; then
  configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
  build build/win64 "${targets[@]}"
fi
