#!/usr/bin/env bash
# Writes dist/Cellumbra-<version>-linux-x86_64.tar.gz: in one folder of that
# name, the GEGL module cellumbra-cells.so and the GIMP 2.10 plug-in
# cellumbra from the native tree, the GIMP 3 plug-in gimp3/cellumbra,
# install.sh (tools/install-linux.sh), SHA256SUMS, INSTALL.txt and LICENSE.
# Build the first two first (tools/build.sh native cellumbra-cells
# cellumbra-gimp). The GIMP 3 plug-in is built in a Debian 13 system, since
# Debian 12 has no libgimp 3.0: the test command builds it before it packs;
# when it is missing or older than its sources, this builds it
# (tools/build-gimp3.sh), making that system first when there is none (about
# a minute; root and the package registry needed), and fails, saying why,
# when it cannot. As with the
# Windows zip, the same commit gives the same archive in any folder and on
# any day: the programs carry no path or time of the build, and the entries
# are stored in a fixed order, owned by root, with the commit's time (or
# SOURCE_DATE_EPOCH's, when set).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -nE 's/^project\(Cellumbra VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package-linux: no project version in CMakeLists.txt" >&2; exit 1; }

tools/build-gimp3.sh >&2 || { echo "package-linux: the GIMP 3 plug-in could not be built (see above)" >&2; exit 1; }
files=(build/native/gegl/cellumbra-cells.so build/native/gimp/cellumbra build/gimp3/cellumbra)
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
mkdir "$stage/$name/gimp3"
cp "${files[@]:0:2}" "$stage/$name/"
cp build/gimp3/cellumbra "$stage/$name/gimp3/"
cp tools/install-linux.sh "$stage/$name/install.sh"
cp docs/INSTALL-linux.txt "$stage/$name/INSTALL.txt"
cp LICENSE "$stage/$name/"
programs=(cellumbra-cells.so cellumbra gimp3/cellumbra)
(cd "$stage/$name" && sha256sum "${programs[@]}" >SHA256SUMS)
entries=(cellumbra-cells.so cellumbra gimp3 gimp3/cellumbra install.sh SHA256SUMS INSTALL.txt LICENSE)
(cd "$stage/$name" && chmod 644 "${entries[@]}" && chmod 755 cellumbra gimp3 gimp3/cellumbra install.sh . &&
  touch -d "@$stamp" "${entries[@]}" .)
archive="dist/$name.tar.gz"
rm -f "$archive"
(cd "$stage" && tar --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$stamp" --no-recursion \
  -cf - "$name" "${entries[@]/#/$name/}") | gzip -9n >"$archive"
echo "package-linux: $archive"
