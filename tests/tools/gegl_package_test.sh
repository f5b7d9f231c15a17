#!/usr/bin/env bash
# The GEGL package as a release is made, from two copies of the checkout in
# two folders, the second built on a day a year later; and the install
# command, where GEGL finds the module. Builds only the module of each native
# tree, so it costs a minute or two.
set -uo pipefail
source "$(dirname "$0")/support.sh"
package_in() { # folder, then what runs each command (nothing, or faketime)
  local dir=$1; shift
  copy_checkout "$dir" &&
    (cd "$dir" && "$@" tools/build.sh native cellumbra-cells && "$@" tools/package-gegl.sh) >"$work/log" 2>&1 ||
    { cat "$work/log"; return 1; }
  cp "$dir"/dist/*-gegl-linux-x86_64.tar.gz "$work/$(basename "$dir").tar.gz"
}
later=(env NO_FAKE_STAT=1 DONT_FAKE_MONOTONIC=1 faketime -f +400d)
package_in "$work/one" && package_in "$work/somewhere/else/two" "${later[@]}"

check "the same sources give the same archive in another folder on another day" cmp "$work/one.tar.gz" "$work/two.tar.gz"

holds_what_ships() {
  local top
  top=$(tar -tzf "$work/two.tar.gz" | head -n 1)
  [ "$(tar -tzf "$work/two.tar.gz" | tr '\n' ' ')" = \
    "$top ${top}cellumbra-cells.so ${top}SHA256SUMS ${top}INSTALL.txt ${top}LICENSE " ] &&
    mkdir "$work/unpacked" && tar -xzf "$work/two.tar.gz" -C "$work/unpacked" &&
    (cd "$work/unpacked/$top" && sha256sum --quiet -c SHA256SUMS) &&
    ! grep -rlF -e "$work" -e "$src" -e "$HOME/" "$work/unpacked" &&
    ! grep -rl 'debug_info' "$work/unpacked"
}
check "the archive holds the stripped module, its SHA256SUMS and no path of this machine" holds_what_ships

# GEGL looks in the user's data folder; the gegl tool answers whether it
# knows the operation.
installs_and_uninstalls() {
  local home=$work/home
  mkdir -p "$home" &&
    (cd "$work/one" && HOME=$home XDG_DATA_HOME= tools/install-gegl.sh) >"$work/log" 2>&1 &&
    HOME=$home XDG_DATA_HOME= gegl --exists cellumbra:cells &&
    rm "$home/.local/share/gegl-0.4/plug-ins/cellumbra-cells.so" &&
    ! HOME=$home XDG_DATA_HOME= gegl --exists cellumbra:cells || { cat "$work/log"; return 1; }
}
check "the install command puts the module where GEGL finds it, and removing the file uninstalls it" installs_and_uninstalls

echo "gegl-package: $((3 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
