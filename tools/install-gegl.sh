#!/usr/bin/env bash
# Installs the GEGL operation cellumbra:cells for the current user: builds the
# module in the native tree when it is missing or older than its sources, and
# copies it into the folder where GEGL (the gegl tool, GIMP 2.10 and 3) looks
# for a user's operations. Removing that one file uninstalls it.
#   tools/install-gegl.sh [--into DIR]   (DIR: another plug-ins folder)
set -euo pipefail
cd "$(dirname "$0")/.."
# GEGL's own choice: the user data folder of GLib, which honours XDG_DATA_HOME.
target="${XDG_DATA_HOME:-$HOME/.local/share}/gegl-0.4/plug-ins"
if [ "${1:-}" = --into ] && [ -n "${2:-}" ]; then
  target=$2
elif [ $# -gt 0 ]; then
  echo "usage: tools/install-gegl.sh [--into DIR]" >&2
  exit 1
fi
log=$(./tools/build.sh native cellumbra-cells 2>&1) || { echo "$log" >&2; exit 1; }
mkdir -p "$target"
# Through a new file beside the old one, so that a GEGL starting meanwhile
# never loads half a module.
install -m 644 build/native/gegl/cellumbra-cells.so "$target/.cellumbra-cells.so.new"
mv -f "$target/.cellumbra-cells.so.new" "$target/cellumbra-cells.so"
echo "install-gegl: $target/cellumbra-cells.so (remove it to uninstall)"
