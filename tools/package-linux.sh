#!/usr/bin/env bash
# Writes dist/Cellumbra-<version>-linux-x86_64.tar.gz from the native tree:
# in one folder of that name, the GEGL module cellumbra-cells.so, the GIMP
# 2.10 plug-in cellumbra, SHA256SUMS, INSTALL.txt and LICENSE. Build both
# first (tools/build.sh native cellumbra-cells cellumbra-gimp). As with the
# Windows zip, the same commit gives the same archive in any folder and on
# any day: the programs carry no path or time of the build, and the entries
# are stored in a fixed order, owned by root, with the commit's time (or
# SOURCE_DATE_EPOCH's, when set).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -nE 's/^project\(Cellumbra VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package-linux: no project version in CMakeLists.txt" >&2; exit 1; }

files=(build/native/gegl/cellumbra-cells.so build/native/gimp/cellumbra)
for f in "${files[@]}"; do
  [ -f "$f" ] || { echo "package-linux: $f is missing; run tools/build.sh native cellumbra-cells cellumbra-gimp first" >&2; exit 1; }
  # An x86-64 ELF file (machine 62), stripped by the build.
  [ "$(od -An -t x1 -N 4 "$f" | tr -d ' ')" = 7f454c46 ] &&
    [ "$(od -An -t u2 -j 18 -N 2 "$f" | tr -d ' ')" = 62 ] ||
    { echo "package-linux: $f is not an x86-64 ELF file" >&2; exit 1; }
  ! grep -q '\.debug_info' "$f" || { echo "package-linux: $f still carries debug information" >&2; exit 1; }
done

stamp=${SOURCE_DATE_EPOCH:-}
[ -n "$stamp" ] || [ ! -e .git ] || stamp=$(git log -1 --format=%ct 2>/dev/null || true)
stamp=${stamp:-315532800}

name="Cellumbra-$version-linux-x86_64"
mkdir -p build dist
stage=$(mktemp -d "$root/build/package-linux.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "${files[@]}" "$stage/$name/"
cp docs/INSTALL-linux.txt "$stage/$name/INSTALL.txt"
cp LICENSE "$stage/$name/"
(cd "$stage/$name" && sha256sum cellumbra-cells.so cellumbra >SHA256SUMS)
entries=(cellumbra-cells.so cellumbra SHA256SUMS INSTALL.txt LICENSE)
(cd "$stage/$name" && chmod 644 "${entries[@]}" && chmod 755 cellumbra . && touch -d "@$stamp" "${entries[@]}" .)
archive="dist/$name.tar.gz"
rm -f "$archive"
(cd "$stage" && tar --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$stamp" --no-recursion \
  -cf - "$name" "${entries[@]/#/$name/}") | gzip -9n >"$archive"
echo "package-linux: $archive"
