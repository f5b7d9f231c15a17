#!/usr/bin/env bash
# The Linux package as a release is made, from two copies of the checkout in
# two folders, the second built on a day a year later; the install command
# and the package's install notes, each where GEGL and GIMP 2.10 find what
# they copied, with GIMP 2.10's profile as complete after its first start as
# without them. Builds only the module and the plug-ins of each copy (the
# GIMP 3 one in the Debian 13 system of tools/gimp3-system.sh), so it costs a
# minute or two. GIMP 3's side is tested in that system (tests/gimp3).
set -uo pipefail
source "$(dirname "$0")/support.sh"
package_in() { # folder, then what runs each command (nothing, or faketime)
  local dir=$1; shift
  copy_checkout "$dir" &&
    (cd "$dir" && "$@" tools/build.sh native cellumbra-cells cellumbra-gimp && "$@" tools/package-linux.sh) >"$work/log" 2>&1 ||
    { cat "$work/log"; return 1; }
  cp "$dir"/dist/*-linux-x86_64.tar.gz "$work/$(basename "$dir").tar.gz"
}
later=(env NO_FAKE_STAT=1 DONT_FAKE_MONOTONIC=1 faketime -f +400d)
package_in "$work/one" && package_in "$work/somewhere/else/two" "${later[@]}"

check "the same sources give the same archive in another folder on another day" cmp "$work/one.tar.gz" "$work/two.tar.gz"

top=$(tar -tzf "$work/two.tar.gz" | head -n 1)
unpacked=$work/unpacked/$top
holds_what_ships() {
  [ "$(tar -tzf "$work/two.tar.gz" | tr '\n' ' ')" = \
    "$top ${top}cellumbra-cells.so ${top}cellumbra ${top}gimp3/ ${top}gimp3/cellumbra ${top}install.sh ${top}SHA256SUMS ${top}INSTALL.txt ${top}LICENSE " ] &&
    mkdir -p "$work/unpacked" && tar -xzf "$work/two.tar.gz" -C "$work/unpacked" &&
    (cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) &&
    [ -x "$unpacked/cellumbra" ] && [ -x "$unpacked/gimp3/cellumbra" ] && [ -x "$unpacked/install.sh" ] &&
    ! grep -rlF -e "$work" -e "$src" -e "$HOME/" "$work/unpacked" &&
    ! grep -rl 'debug_info' "$work/unpacked"
}
check "the archive holds the stripped module and plug-ins, install.sh, their SHA256SUMS and no path of this machine" holds_what_ships

# ldd -u lists the libraries a program names as needed and never uses (the
# GIMP 3 plug-in's libraries are not on this machine).
needs_only_what_it_uses() {
  local f unused
  for f in cellumbra-cells.so cellumbra; do
    readelf -d "$unpacked/$f" | grep -q NEEDED || return 1
    unused=$(ldd -u -r "$unpacked/$f" 2>&1 | grep -v '^Unused direct dependencies:$' | sed '/^\s*$/d')
    [ -z "$unused" ] || { echo "$f needs but does not use: $unused"; return 1; }
  done
}
check "each program lists as needed only the libraries it uses" needs_only_what_it_uses

# Whether GEGL knows the operation and GIMP 2.10 the procedure, with the
# environment given.
found() {
  env "$@" gegl --exists cellumbra:cells &&
    env "$@" gimp -i -d -f -b '(gimp-message (number->string (car (gimp-procedural-db-proc-exists "plug-in-cellumbra"))))' \
      -b '(gimp-quit 0)' 2>&1 | grep -q 'script-fu-Warning: 1'
}

# GIMP 2.10's first start in a fresh home; its profile's entries after it.
first_start() { # home
  env -u GIMP2_DIRECTORY HOME="$1" XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_CACHE_HOME= \
    gimp-console-2.10 -i -d -f -b '(gimp-quit 0)' >"$work/first-start.log" 2>&1
  ! grep -q 'Failed to save data' "$work/first-start.log" || { cat "$work/first-start.log"; return 1; }
  ls -A "$1/.config/GIMP/2.10"
}
mkdir -p "$work/fresh" && first_start "$work/fresh" >"$work/fresh.entries"

installs_and_uninstalls() {
  local home=$work/home
  local plain=(-u GIMP2_DIRECTORY HOME="$home" XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_CACHE_HOME=)
  mkdir -p "$home" &&
    (cd "$work/one" && env "${plain[@]}" tools/install-linux.sh) >"$work/log" 2>&1 &&
    found "${plain[@]}" &&
    # GIMP made its profile before the plug-in went into it.
    first_start "$home" | cmp - "$work/fresh.entries" &&
    (cd "$work/one" && env "${plain[@]}" tools/install-linux.sh --uninstall) >>"$work/log" 2>&1 &&
    ! env "${plain[@]}" gegl --exists cellumbra:cells &&
    [ -z "$(find "$home" -iname '*cellumbra*' | tee -a "$work/log")" ] &&
    # The earlier name, with its folder for GEGL.
    (cd "$work/one" && env "${plain[@]}" tools/install-gegl.sh --into "$work/elsewhere") >>"$work/log" 2>&1 &&
    [ -f "$work/elsewhere/cellumbra-cells.so" ] || { cat "$work/log"; return 1; }
}
check "the install command makes GIMP's profile first, puts both where GEGL and GIMP find them, and --uninstall leaves nothing of them" installs_and_uninstalls

# The notes' command as a user runs it, with the XDG folders elsewhere.
notes_install() {
  local home=$work/notes-home
  local moved=(-u GIMP2_DIRECTORY HOME="$home" XDG_DATA_HOME="$home/data place" XDG_CONFIG_HOME="$home/config place" XDG_CACHE_HOME="$home/cache")
  local commands
  commands=$(grep -E '^     \./install\.sh$' "$unpacked/INSTALL.txt")
  [ "$(wc -l <<<"$commands")" -eq 1 ] &&
    mkdir -p "$home" && (cd "$unpacked" && env "${moved[@]}" bash -euc "$commands") >"$work/log" 2>&1 &&
    [ -f "$home/data place/gegl-0.4/plug-ins/cellumbra-cells.so" ] &&
    [ -x "$home/config place/GIMP/2.10/plug-ins/cellumbra" ] &&
    [ -x "$home/config place/GIMP/2.10/brushes" ] &&
    found "${moved[@]}" || { cat "$work/log"; return 1; }
}
check "the install notes' command works as written with XDG_DATA_HOME and XDG_CONFIG_HOME set" notes_install

echo "linux-package: $((5 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
