#!/usr/bin/env bash
# The package as a release is made: from two copies of the checkout in two
# folders, the second built on a day a year later. Builds only the plug-in of
# each tree (no tests), so it costs a minute or two.
set -uo pipefail
source "$(dirname "$0")/support.sh"
package_in() { # folder, then what runs each command (nothing, or faketime)
  local dir=$1; shift
  copy_checkout "$dir" &&
    (cd "$dir" && "$@" tools/build.sh win32 Cellumbra && "$@" tools/build.sh win64 Cellumbra &&
      "$@" tools/package.sh) >"$work/log" 2>&1 || { cat "$work/log"; return 1; }
  cp "$dir"/dist/*.zip "$work/$(basename "$dir").zip"
}
# The commit's time, as a checkout's package takes it (these copies have no history).
export SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1700000000)
# File times stay true; only the clock the tools read moves.
later=(env NO_FAKE_STAT=1 DONT_FAKE_MONOTONIC=1 faketime -f +400d)
package_in "$work/one" && package_in "$work/somewhere/else/two" "${later[@]}"

check "the same sources give the same zip in another folder on another day" cmp "$work/one.zip" "$work/two.zip"

version=$(sed -nE 's/^project\(Cellumbra VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")
pe_time() { od -An -t u4 -j $(($(od -An -t u4 -j 60 -N 4 "$1") + 8)) -N 4 "$1" | tr -d ' '; }
holds_what_ships() {
  local d=$work/unzipped/Cellumbra-$version
  mkdir "$work/unzipped" && (cd "$work/unzipped" && unzip -q "$work/two.zip") &&
    [ "$(zipinfo -1 "$work/two.zip" | sed "s|^Cellumbra-$version/||" | tr '\n' ' ')" = \
      "x86/Cellumbra.8bf x64/Cellumbra.8bf SHA256SUMS INSTALL.txt LICENSE THIRD-PARTY-NOTICES.txt " ] &&
    [ "$(ls "$work/unzipped")" = "Cellumbra-$version" ] &&
    (cd "$d" && sha256sum --quiet -c SHA256SUMS) &&
    head -n 1 "$d/INSTALL.txt" | grep -q "^Cellumbra $version: installing" &&
    grep -q "^1. The threads library of MinGW-w64 (winpthreads): libpthread.a" "$d/THIRD-PARTY-NOTICES.txt" &&
    [ "$(pe_time "$d/x86/Cellumbra.8bf")" = "$SOURCE_DATE_EPOCH" ] &&
    [ "$(pe_time "$d/x64/Cellumbra.8bf")" = "$SOURCE_DATE_EPOCH" ] &&
    ! grep -rlF -e "$work" -e "$src" -e "$HOME/" "$work/unzipped" &&
    ! grep -rl 'debug_info' "$work/unzipped"
}
check "the zip holds one folder named with the version: the stripped DLLs dated by the commit, their SHA256SUMS, notes naming the version, the third-party notices, and no path of this machine" holds_what_ships

# A library that joins the link without a notice stops the package.
unnoticed() {
  sed -i 's/^Archive member included.*/&\n\/usr\/lib\/libz.a(inflate.o)\n    x.obj (inflate)/' "$work/one/build/win64/Cellumbra.map" &&
    ! (cd "$work/one" && tools/package.sh) >"$work/log" 2>&1 &&
    grep -q "libz.a is built into build/win64/Cellumbra.8bf, and docs/THIRD-PARTY-NOTICES.txt has no entry" "$work/log"
}
check "a library in the link without an entry in the notices stops the package" unnoticed

echo "reproducible-package: $((3 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
