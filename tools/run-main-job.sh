#!/usr/bin/env bash
# The main job: the real 32-bit plug-in in the reference host under Wine, on a
# picture (default: the bundled one), writing the filtered picture as PNG.
#   tools/run-main-job.sh [picture] [cell size 1..100] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
picture=${1:-assets/sample.png}
size=${2:-12}
out=${3:-build/main-job/$(basename "${picture%.*}")-cells.png}
./tools/bootstrap.sh
./tools/build.sh win32 Cellumbra filterhost >/dev/null
mkdir -p "$(dirname "$out")"
export WINEPREFIX="$PWD/build/wineprefix/main-job"
./tools/wine-run.sh build/win32/filterhost.exe --settings "$size" build/win32/Cellumbra.8bf "$picture" "$out"
echo "Filtered picture written to $out"
