#!/usr/bin/env bash
# Installs Cellumbra for the current user on Linux, or removes it: the GEGL
# operation cellumbra:cells (the gegl tool, GIMP 2.10 and 3), the GIMP 2.10
# plug-in and the GIMP 3 plug-in (Filters > Artistic > Cellumbra...,
# plug-in-cellumbra). Runs from the checkout (building what is missing in the
# native tree; the GIMP 3 plug-in comes from tools/build-gimp3.sh) or, as
# install.sh, from the unpacked Linux archive, whose programs lie beside it.
#
# Where each program looks for a user's own:
#   - the operation: ${XDG_DATA_HOME:-~/.local/share}/gegl-0.4/plug-ins, and a
#     Flathub GIMP's ~/.var/app/org.gimp.GIMP/data/gegl-0.4/plug-ins;
#   - GIMP 2.10: plug-ins/ of $GIMP2_DIRECTORY (relative: to the home folder),
#     else of ${XDG_CONFIG_HOME:-~/.config}/GIMP/2.10;
#   - GIMP 3: plug-ins/cellumbra/ (it runs a plug-in only from a folder of
#     its own name) of $GIMP3_DIRECTORY, else ${XDG_CONFIG_HOME:-~/.config}/GIMP/3.0;
#   - a Flathub GIMP: ~/.var/app/org.gimp.GIMP/config/GIMP/{2.10,3.0}.
# GIMP makes its profile (brushes, gradients, palettes, scripts ...) only when
# its folder does not exist yet, so the plug-ins never go into a profile that
# GIMP has not made: a GIMP installed here is started once without a window
# to make it first, and one that cannot be is left alone, with a word.
# Nothing else in a profile changes.
#   install-linux.sh [--gegl-dir DIR] [--gimp-dir DIR] [--gimp3-dir DIR]   (other plug-ins folders)
#   install-linux.sh --uninstall   removes what it installed, wherever it is
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
flathub=$HOME/.var/app/org.gimp.GIMP
uninstall=0
gegl_dirs=() gimp2_dir="" gimp3_dir=""
usage() { echo "usage: install-linux.sh [--gegl-dir DIR] [--gimp-dir DIR] [--gimp3-dir DIR] | --uninstall" >&2; exit 1; }
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) uninstall=1; shift; continue ;;
  esac
  [ $# -ge 2 ] && [ -n "$2" ] || usage
  case "$1" in
    --gegl-dir) gegl_dirs=("$2") ;;
    --gimp-dir) gimp2_dir=$2 ;;
    --gimp3-dir) gimp3_dir=$2 ;;
    *) usage ;;
  esac
  shift 2
done

# The profiles, as GIMP itself chooses them. GIMP takes GIMP2_DIRECTORY and
# GIMP3_DIRECTORY whenever they are set, even empty.
config=${XDG_CONFIG_HOME:-$HOME/.config}
gimp2_home=${GIMP2_DIRECTORY-$config/GIMP/2.10}
gimp3_home=${GIMP3_DIRECTORY-$config/GIMP/3.0}
[[ "$gimp2_home" == /* ]] || gimp2_home=$HOME/$gimp2_home
[[ "$gimp3_home" == /* ]] || gimp3_home=$HOME/$gimp3_home
[ ${#gegl_dirs[@]} -gt 0 ] || {
  gegl_dirs=("${XDG_DATA_HOME:-$HOME/.local/share}/gegl-0.4/plug-ins")
  [ ! -d "$flathub" ] || gegl_dirs+=("$flathub/data/gegl-0.4/plug-ins")
}

if [ "$uninstall" -eq 1 ]; then
  for d in "${gegl_dirs[@]}"; do
    # The folder stays: GEGL makes it itself when it starts.
    [ ! -e "$d/cellumbra-cells.so" ] || { rm -f "$d/cellumbra-cells.so"; echo "uninstall: $d/cellumbra-cells.so"; }
  done
  for p in "${gimp2_dir:-$gimp2_home/plug-ins}" "$flathub/config/GIMP/2.10/plug-ins"; do
    [ ! -f "$p/cellumbra" ] || { rm -f "$p/cellumbra"; echo "uninstall: $p/cellumbra"; }
  done
  for p in "${gimp3_dir:-$gimp3_home/plug-ins}" "$flathub/config/GIMP/3.0/plug-ins"; do
    [ ! -d "$p/cellumbra" ] || { rm -rf "$p/cellumbra"; echo "uninstall: $p/cellumbra"; }
  done
  exit 0
fi

# The programs: beside this script in the archive, else the checkout's builds.
if [ -f "$here/cellumbra-cells.so" ]; then
  operation=$here/cellumbra-cells.so gimp2=$here/cellumbra gimp3=$here/gimp3/cellumbra
else
  cd "$here/.."
  log=$(./tools/build.sh native cellumbra-cells cellumbra-gimp 2>&1) || { echo "$log" >&2; exit 1; }
  operation=$PWD/build/native/gegl/cellumbra-cells.so gimp2=$PWD/build/native/gimp/cellumbra gimp3=$PWD/build/gimp3/cellumbra
  if [ ! -f "$gimp3" ] || [ -n "$(find gimp3 filter -newer "$gimp3" -print -quit)" ]; then
    if [ "$(id -u)" -eq 0 ]; then
      ./tools/build-gimp3.sh || exit 1
    else
      echo "install: the GIMP 3 plug-in is not built; tools/build-gimp3.sh builds it (as root)" >&2
    fi
  fi
fi

# Through a new file beside the old one, so that a GEGL or GIMP starting
# meanwhile never loads half a file.
place() { # file, folder, mode, name
  mkdir -p "$2"
  install -m "$3" "$1" "$2/.$4.new"
  mv -f "$2/.$4.new" "$2/$4"
  echo "install: $2/$4"
}

# Whether a GIMP profile exists, after starting that GIMP once without a
# window to make it, when it does not and that GIMP is here. Its session bus
# ends with it.
bus=()
command -v dbus-run-session >/dev/null && bus=(dbus-run-session --)
made() { # profile, GIMP's console program, its arguments
  local profile=$1 program=$2
  shift 2
  [ -d "$profile" ] && return 0
  command -v "$program" >/dev/null || return 1
  echo "install: starting $program once, so that it makes its profile $profile first" >&2
  timeout -k 5 300 "${bus[@]}" "$program" "$@" >/dev/null 2>&1 </dev/null || true
  [ -d "$profile" ]
}

for d in "${gegl_dirs[@]}"; do place "$operation" "$d" 644 cellumbra-cells.so; done

later=()
if [ -n "$gimp2_dir" ]; then
  place "$gimp2" "$gimp2_dir" 755 cellumbra
elif made "$gimp2_home" gimp-console-2.10 -i -d -f -b '(gimp-quit 0)'; then
  place "$gimp2" "$gimp2_home/plug-ins" 755 cellumbra
elif command -v gimp-2.10 >/dev/null || command -v gimp-console-2.10 >/dev/null; then
  later+=("GIMP 2.10")
fi
if [ ! -f "$gimp3" ]; then
  :
elif [ -n "$gimp3_dir" ]; then
  place "$gimp3" "$gimp3_dir/cellumbra" 755 cellumbra
elif made "$gimp3_home" gimp-console-3.0 -i --quit; then
  place "$gimp3" "$gimp3_home/plug-ins/cellumbra" 755 cellumbra
elif command -v gimp-3.0 >/dev/null || command -v gimp-console-3.0 >/dev/null; then
  later+=("GIMP 3")
fi
# A Flathub GIMP's own profile, once it has made it.
if [ -d "$flathub" ] && [ -z "$gimp2_dir$gimp3_dir" ]; then
  if [ -d "$flathub/config/GIMP/3.0" ] && [ -f "$gimp3" ]; then
    place "$gimp3" "$flathub/config/GIMP/3.0/plug-ins/cellumbra" 755 cellumbra
  elif [ -d "$flathub/config/GIMP/2.10" ]; then
    place "$gimp2" "$flathub/config/GIMP/2.10/plug-ins" 755 cellumbra
  else
    later+=("GIMP from Flathub")
  fi
fi
for g in "${later[@]}"; do echo "install: $g has not made its profile yet; start it once, quit it and run this again"; done
echo "install: restart GIMP to see it; '$0 --uninstall' removes it"
