#!/usr/bin/env bash
# Installs, only when missing, every Debian package that building and testing need.
# Safe to run again: a machine that has everything is left alone.
set -euo pipefail

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

packages=(
  cmake make ninja-build g++ clang libclang-rt-14-dev python3
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 xvfb xauth zip unzip faketime
  googletest libstb-dev
  libgegl-dev gegl pkg-config
  gimp libgimp2.0-dev xdotool imagemagick procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

if [ "$need_i386" -eq 0 ] && [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ "$need_i386" -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
