#!/usr/bin/env bash
# Builds the benchmark in both trees and runs it, printing its figures:
#   - natively, without sanitizers, in Release (build/bench-native);
#   - the real 32-bit and 64-bit Cellumbra.8bf through ENTRYPOINT under Wine
#     (build/bench-win32, build/bench-win64), each with a preview rendering.
# Every build times the product (its block bound into the pixel loop) and the
# same block through the table of built-ins, beside the specialised loop, on
# one thread; then the product over 1, 2, ... threads up to the processors
# (CELLUMBRA_THREADS), and small pictures on one thread and two.
# Arguments go to every program: --reps N (default 5), --size WxH (default 4000x3000).
# tools/run-bench.sh --gegl [...] instead times the GEGL operation natively,
# beside one copy of the same picture (gegl:nop), in R'G'B'A u8 and RGBA float;
# tools/run-bench.sh --web [...] the browser page's WebAssembly kernel under
# Node beside the plug-in natively, both on one thread.
# tools/run-bench.sh --host [--reps N] instead times the main job's host in
# both Windows builds (build/win32, build/win64, the trees the main job
# uses): its filtering phase on a 4000 x 3000 RGB and RGBA picture beside the
# plug-in's own start selector, and the whole host on a synthetic 8832 x 5888
# JPEG (made at run time, deleted after) beside reading and writing it alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./tools/bootstrap.sh

if [ "${1:-}" = --host ]; then
  shift
  for arch in win32 win64; do
    nice -n 5 ./tools/build.sh "$arch" Cellumbra filterhost cellumbra_bench >/dev/null
  done
  for arch in win32 win64; do
    export WINEPREFIX="$root/build/$arch/wineprefix/host-bench" WINEARCH=$arch
    echo "load average before the $arch run: $(cut -d' ' -f1-3 /proc/loadavg)"
    (cd "build/$arch" && "$root/tools/wine-run.sh" ./cellumbra_bench.exe --host "$@" 2>&1 | grep -v '^X connection to')
  done
  exit 0
fi

source tools/configure.sh
configure build/bench-native -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DCELLUMBRA_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release
cmake --build build/bench-native -j 2 --target cellumbra_bench >/dev/null
if [ "${1:-}" = --web ]; then
  shift
  web/build.sh >/dev/null
  echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg); Node $(node --version)"
  cd build/bench-native
  exec bench/cellumbra_bench --web "$root/bench/web_bench.mjs" "$root/build/web/cells.wasm" "$@"
fi
if [ "${1:-}" = --gegl ]; then
  echo "load average before the GEGL run: $(cut -d' ' -f1-3 /proc/loadavg)"
  exec build/bench-native/bench/cellumbra_bench "$@"
fi
# Timings share the machine with whatever else runs: say how busy it was.
echo "load average before the native run: $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench-native/bench/cellumbra_bench "$@"

# One Windows build: the plug-in through ENTRYPOINT, then one filtered
# preview rendering painted in the real dialog (median of 25 paints).
run_windows() {
  local arch=$1 toolchain=$2 tree=build/bench-$1
  shift 2
  configure "$tree" -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  cmake --build "$tree" -j 2 --target cellumbra_bench preview_test Cellumbra CellumbraTable >/dev/null
  echo
  export WINEPREFIX="$root/$tree/wineprefix/bench" WINEARCH=$arch
  echo "load average before the $arch run: $(cut -d' ' -f1-3 /proc/loadavg)"
  (cd "$tree" && "$root/tools/wine-run.sh" ./cellumbra_bench.exe "$@" 2>&1 | grep -v '^X connection to')
  (cd "$tree" && "$root/tools/wine-run.sh" tests/preview_test.exe --gtest_filter='*LargePicture*' 2>&1 |
    grep '^preview:' | sed "s/^preview:/preview ($arch):/")
}
run_windows win32 cmake/mingw-i686.cmake "$@"
run_windows win64 cmake/mingw-x86_64.cmake "$@"
