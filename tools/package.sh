#!/usr/bin/env bash
# Writes dist/Cellumbra-<version>-windows.zip from the two Windows builds:
# x86/Cellumbra.8bf, x64/Cellumbra.8bf, SHA256SUMS, INSTALL.txt and LICENSE.
# The version is the project's (CMakeLists.txt). Build both trees first
# (tools/build.sh). The same commit gives the same zip, byte for byte, in any
# folder and on any day: the DLLs carry no path or time of the build, and the
# entries are written in a fixed order with the commit's time (or
# SOURCE_DATE_EPOCH's, when set).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -nE 's/^project\(Cellumbra VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no project version in CMakeLists.txt" >&2; exit 1; }

# The PE machine field, so a file can never land in the other folder.
pe_machine() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}
check() {
  local file=$1 machine=$2
  [ -f "$file" ] || { echo "package: $file is missing; run tools/build.sh first" >&2; exit 1; }
  [ "$(pe_machine "$file")" = "$machine" ] || { echo "package: $file is not for machine $machine" >&2; exit 1; }
  # The build strips the DLL and keeps its debug information beside it.
  ! grep -q '\.debug_info' "$file" || { echo "package: $file still carries debug information" >&2; exit 1; }
}
check build/win32/Cellumbra.8bf 014c
check build/win64/Cellumbra.8bf 8664

stamp=${SOURCE_DATE_EPOCH:-}
[ -n "$stamp" ] || [ ! -e .git ] || stamp=$(git log -1 --format=%ct 2>/dev/null || true)
stamp=${stamp:-315532800} # 1980-01-01, the earliest time a zip entry can hold

stage=$(mktemp -d "$root/build/package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x86" "$stage/x64" dist
cp build/win32/Cellumbra.8bf "$stage/x86/"
cp build/win64/Cellumbra.8bf "$stage/x64/"
# Windows line ends, for the plain text editor every Windows has.
sed 's/$/\r/' docs/INSTALL.txt >"$stage/INSTALL.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE"
(cd "$stage" && sha256sum x86/Cellumbra.8bf x64/Cellumbra.8bf >SHA256SUMS)
entries=(x86/Cellumbra.8bf x64/Cellumbra.8bf SHA256SUMS INSTALL.txt LICENSE)
# A zip keeps each entry's mode and its time as local time: fix both.
(cd "$stage" && chmod 644 "${entries[@]}" && touch -d "@$stamp" "${entries[@]}")
zip_file="dist/Cellumbra-$version-windows.zip"
rm -f "$zip_file"
(cd "$stage" && TZ=UTC zip -q -X -D "$root/$zip_file" "${entries[@]}")
echo "package: $zip_file"
