#!/usr/bin/env bash
# Builds the benchmark in both trees and runs it, printing its figures:
#   - natively, without sanitizers, in Release (build/bench-native);
#   - the real 32-bit Cellumbra.8bf through ENTRYPOINT under Wine (build/bench-win32).
# Arguments go to both programs: --reps N (default 5), --size WxH (default 4000x3000).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./tools/bootstrap.sh

cmake -S . -B build/bench-native -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc \
  -DCELLUMBRA_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-native -j 2 --target cellumbra_bench >/dev/null
# The toolchain is named only when the tree is first configured.
toolchain=()
[ -f build/bench-win32/CMakeCache.txt ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S . -B build/bench-win32 -G Ninja "${toolchain[@]}" >/dev/null
cmake --build build/bench-win32 -j 2 --target cellumbra_bench >/dev/null

# Timings share the machine with whatever else runs: say how busy it was.
echo "load average before the native run: $(cut -d' ' -f1-3 /proc/loadavg)"
build/bench-native/bench/cellumbra_bench "$@"
echo

export WINEPREFIX="$root/build/bench-win32/wineprefix/bench"
# Without a window manager (a bare Xvfb) Wine waits about 2 s for every
# hidden window to be withdrawn, which would swamp the dialog's at-once
# ending; unmanaged windows skip that wait, as they would on Windows.
./tools/wine-run.sh reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
echo "load average before the Windows run: $(cut -d' ' -f1-3 /proc/loadavg)"
cd build/bench-win32
"$root/tools/wine-run.sh" ./cellumbra_bench.exe "$@" 2>&1 | grep -v '^X connection to'

# The preview: one filtered rendering of the dialog's default view of a
# 4000 x 3000 picture, painted in the real dialog (median of 25 paints).
cmake --build . -j 2 --target preview_test Cellumbra >/dev/null
"$root/tools/wine-run.sh" tests/preview_test.exe --gtest_filter='*LargePicture*' 2>&1 | grep '^preview:'
