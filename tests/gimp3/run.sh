#!/usr/bin/env bash
# The GIMP 3 tests: makes or reuses the Debian 13 system (tools/gimp3-system.sh;
# about a minute the first time, as root), builds the GIMP 3 plug-in inside
# it (tools/build-gimp3.sh), and runs GIMP 3 there on the plug-in and the
# native tree's GEGL operation, against the plug-in's cells from the native
# tree's plugin_cells (tools/build.sh native plugin_cells cellumbra-cells).
# Ends with "gimp3: N passed, N failed"; the screenshots go to
# build/gimp3-tests/.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
fail() { echo "gimp3: $1"; echo "gimp3: 0 passed, 1 failed"; exit 1; }

for f in build/native/tests/plugin_cells build/native/gegl/cellumbra-cells.so; do
  [ -x "$f" ] || [ -f "$f" ] || fail "$f is missing; run tools/build.sh native plugin_cells cellumbra-cells first"
done
tools/build-gimp3.sh || fail "the GIMP 3 plug-in was not built"
source tools/gimp3-system.sh
gimp3_system_enter || fail "the Debian 13 system is not usable"
mkdir -p build/gimp3-tests
python3 tests/gimp3/gimp3_test.py "$gimp3_system" "$gimp3_exchange" "$root/build/gimp3/cellumbra" \
  "$root/build/native/gegl/cellumbra-cells.so" "$root/build/native/tests/plugin_cells" "$root/build/gimp3-tests"
