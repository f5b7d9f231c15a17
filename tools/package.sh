#!/usr/bin/env bash
# Writes dist/Cellumbra-<version>-windows.zip from the two Windows builds: one
# folder, Cellumbra-<version>/, holding x86/Cellumbra.8bf, x64/Cellumbra.8bf,
# SHA256SUMS, INSTALL.txt, LICENSE and THIRD-PARTY-NOTICES.txt. The version
# is the project's (CMakeLists.txt). Build both trees first (tools/build.sh). The same commit
# gives the same zip, byte for byte, in any folder and on any day: the DLLs
# carry no path or time of the build, only the commit's time (or
# SOURCE_DATE_EPOCH's, when set) as their PE time, and the entries are written
# in a fixed order with that time.
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

# Every library the link built into a DLL, as its map names them: the
# archives it took members from and the objects it loaded from elsewhere.
# Each must have its entry in THIRD-PARTY-NOTICES.txt, so that no notice a
# licence asks for is left behind when a library joins the link.
linked_libraries() {
  { sed -n '/^Archive member included/,/^Discarded input sections/p' "$1" | grep -oE '^[^ ]+\.a\(' | sed 's/($//'
    sed -n 's/^LOAD \(.*\.o\)$/\1/p' "$1"; } | xargs -rn1 basename | sort -u | grep -vx libcellumbra_core.a
}
for tree in win32 win64; do
  map=build/$tree/Cellumbra.map
  [ -f "$map" ] || { echo "package: $map is missing; run tools/build.sh $tree Cellumbra first" >&2; exit 1; }
  for library in $(linked_libraries "$map"); do
    grep -qF -- "$library" docs/THIRD-PARTY-NOTICES.txt ||
      { echo "package: $library is built into build/$tree/Cellumbra.8bf, and docs/THIRD-PARTY-NOTICES.txt has no entry for it" >&2; exit 1; }
  done
done

stamp=${SOURCE_DATE_EPOCH:-}
[ -n "$stamp" ] || [ ! -e .git ] || stamp=$(git log -1 --format=%ct 2>/dev/null || true)
stamp=${stamp:-315532800} # 1980-01-01, the earliest time a zip entry can hold

# The build links without a time, so that a build is the same on any day;
# the shipped file takes the commit's, which its properties then show as
# its date (the PE header's TimeDateStamp). The header's checksum covers
# that field, so it is computed anew.
stamp_pe() {
  python3 - "$1" "$stamp" <<'EOF'
import struct, sys
path, stamp = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
pe = struct.unpack_from("<I", data, 60)[0]
struct.pack_into("<I", data, pe + 8, stamp)
at = pe + 24 + 64  # the optional header's CheckSum, left out of its own sum
struct.pack_into("<I", data, at, 0)
total = 0
for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)):
    total += word
    total = (total & 0xFFFF) + (total >> 16)
struct.pack_into("<I", data, at, total + len(data))
open(path, "wb").write(data)
EOF
}

# One folder, so that unpacking puts nothing loose where it is unpacked.
stage=$(mktemp -d "$root/build/package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
folder=Cellumbra-$version
mkdir -p "$stage/$folder/x86" "$stage/$folder/x64" dist
cp build/win32/Cellumbra.8bf "$stage/$folder/x86/"
cp build/win64/Cellumbra.8bf "$stage/$folder/x64/"
stamp_pe "$stage/$folder/x86/Cellumbra.8bf"
stamp_pe "$stage/$folder/x64/Cellumbra.8bf"
# Windows line ends, for the plain text editor every Windows has.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' docs/INSTALL.txt >"$stage/$folder/INSTALL.txt"
sed 's/$/\r/' LICENSE >"$stage/$folder/LICENSE"
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' docs/THIRD-PARTY-NOTICES.txt >"$stage/$folder/THIRD-PARTY-NOTICES.txt"
(cd "$stage/$folder" && sha256sum x86/Cellumbra.8bf x64/Cellumbra.8bf >SHA256SUMS)
entries=(x86/Cellumbra.8bf x64/Cellumbra.8bf SHA256SUMS INSTALL.txt LICENSE THIRD-PARTY-NOTICES.txt)
entries=("${entries[@]/#/$folder/}")
# A zip keeps each entry's mode and its time as local time: fix both.
(cd "$stage" && chmod 644 "${entries[@]}" && touch -d "@$stamp" "${entries[@]}")
zip_file="dist/Cellumbra-$version-windows.zip"
rm -f "$zip_file"
(cd "$stage" && TZ=UTC zip -q -X -D "$root/$zip_file" "${entries[@]}")
echo "package: $zip_file"
