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
  lld wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32 libc++abi-14-dev-wasm32
  chromium firefox-esr nodejs
  gimp libgimp2.0-dev xdotool imagemagick procps
)

# One query for all: every command that builds runs this first.
installed=$(dpkg-query -W -f='${binary:Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
  awk '/ ok installed$/ { print $1 }') || true
missing=()
for p in "${packages[@]}"; do
  grep -qxF -- "$p" <<<"$installed" || grep -qxF -- "$p:$(dpkg --print-architecture)" <<<"$installed" ||
    missing+=("$p")
done
# The browser page's tests install puppeteer-core with npm, which some builds
# of nodejs carry themselves; Debian's comes in a package of its own.
command -v npm >/dev/null || missing+=(npm)

if [ "$need_i386" -eq 0 ] && [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ "$need_i386" -eq 1 ]; then
  $SUDO dpkg --add-architecture i386
fi
# Here 150 packages (362 MiB, most of it MinGW-w64 and Wine) took 45 s from
# a warm package cache; a download comes on top.
echo "bootstrap: installing ${#missing[@]} packages (${missing[*]}): about a minute, more while they download" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
