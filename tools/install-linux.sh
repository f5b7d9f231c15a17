#!/usr/bin/env bash
# Installs Cellumbra for the current user on Linux: the GEGL operation
# cellumbra:cells (the gegl tool, GIMP 2.10 and 3) and the GIMP 2.10 plug-in
# (Filters > Artistic > Cellumbra..., plug-in-cellumbra). Builds both in the
# native tree when missing or older than their sources, and copies each into
# the folder where its program looks for a user's own:
#   - the module into GEGL's, ${XDG_DATA_HOME:-~/.local/share}/gegl-0.4/plug-ins;
#   - the plug-in into GIMP 2.10's, plug-ins/ of GIMP's folder: $GIMP2_DIRECTORY
#     (taken from the home folder when relative), else
#     ${XDG_CONFIG_HOME:-~/.config}/GIMP/2.10, as GIMP itself chooses.
# Removing the two files uninstalls it.
#   tools/install-linux.sh [--gegl-dir DIR] [--gimp-dir DIR]   (other plug-ins folders)
set -euo pipefail
cd "$(dirname "$0")/.."
gegl_dir="${XDG_DATA_HOME:-$HOME/.local/share}/gegl-0.4/plug-ins"
# GIMP takes GIMP2_DIRECTORY whenever it is set, even empty.
gimp_home="${GIMP2_DIRECTORY-${XDG_CONFIG_HOME:-$HOME/.config}/GIMP/2.10}"
[[ "$gimp_home" == /* ]] || gimp_home="$HOME/$gimp_home"
gimp_dir="$gimp_home/plug-ins"
usage() { echo "usage: tools/install-linux.sh [--gegl-dir DIR] [--gimp-dir DIR]" >&2; exit 1; }
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] && [ -n "$2" ] || usage
  case "$1" in
    --gegl-dir) gegl_dir=$2 ;;
    --gimp-dir) gimp_dir=$2 ;;
    *) usage ;;
  esac
  shift 2
done
log=$(./tools/build.sh native cellumbra-cells cellumbra-gimp 2>&1) || { echo "$log" >&2; exit 1; }
# Through a new file beside the old one, so that a GEGL or GIMP starting
# meanwhile never loads half a file.
place() { # file, folder, mode
  mkdir -p "$2"
  install -m "$3" "$1" "$2/.$(basename "$1").new"
  mv -f "$2/.$(basename "$1").new" "$2/$(basename "$1")"
  echo "install: $2/$(basename "$1")"
}
place build/native/gegl/cellumbra-cells.so "$gegl_dir" 644
place build/native/gimp/cellumbra "$gimp_dir" 755
echo "install: restart GIMP to see it; remove the two files to uninstall"
