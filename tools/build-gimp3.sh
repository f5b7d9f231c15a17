#!/usr/bin/env bash
# Builds the GIMP 3 plug-in, build/gimp3/cellumbra (stripped; its debug
# information beside it in cellumbra.debug), inside the Debian 13 system of
# tools/gimp3-system.sh, which it makes first when missing (about a minute;
# needs root and the package registry). Debian 12 has no libgimp 3.0. Does
# nothing when the program is newer than its sources and the system.
#
# Like the 2.10 plug-in it compiles the filter's files it needs again (the
# cell map, and the kernel for the cells' reach, without its threads) and
# links nothing else of the plug-in. The sources are copied into the system under one fixed folder, so
# that every checkout gives the same program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build/gimp3
sources=(gimp3 gimp gegl filter base runtime)
source tools/gimp3-system.sh

if [ -f "$out/cellumbra" ] && [ "$out/cellumbra" -nt "$gimp3_marker" ] &&
  [ -z "$(find "${sources[@]}" -newer "$out/cellumbra" -print -quit)" ]; then
  exit 0
fi
gimp3_system_enter
mkdir -p "$gimp3_exchange/src" "$out"
cp -r "${sources[@]}" "$gimp3_exchange/src/"
# g++ 14 warns inside GLib's and GIMP's headers with -Wextra.
gimp3_in_system sh -euc '
  cd /exchange/src
  g++ -std=c++17 -O2 -g -Wall -Wextra -Wno-unused-parameter -Wno-cast-function-type \
    -ffile-prefix-map=/exchange/src=. -ffunction-sections -fdata-sections -fvisibility=hidden \
    -fvisibility-inlines-hidden -DCELLUMBRA_WITHOUT_THREADS -I. $(pkg-config --cflags gimpui-3.0 | sed "s/-I/-isystem /g") \
    -o cellumbra gimp3/cellumbra-gimp3.cc filter/cell_map.cpp filter/cellumbra_kernel.cpp \
    -Wl,--as-needed -Wl,--gc-sections -Wl,-z,defs -Wl,--build-id=sha1 $(pkg-config --libs gimpui-3.0)
  objcopy --only-keep-debug cellumbra cellumbra.debug
  objcopy --strip-all --add-gnu-debuglink=cellumbra.debug cellumbra'
install -m 755 "$gimp3_exchange/src/cellumbra" "$out/cellumbra"
install -m 644 "$gimp3_exchange/src/cellumbra.debug" "$out/cellumbra.debug"
echo "build-gimp3: $out/cellumbra" >&2
