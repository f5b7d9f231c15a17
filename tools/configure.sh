# Sourced by the commands that configure a build tree.
#
# configure DIR [cmake options]: a tree whose cache was made in another folder
# (a copied or moved checkout) is configured anew, since CMake refuses it.
configure() {
  local dir=$1
  shift
  if [ -f "$dir/CMakeCache.txt" ]; then
    local made_in
    made_in=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
    if [ "$made_in" != "$(pwd -P)" ] && [ "$made_in" != "$(pwd -L)" ]; then
      echo "build: $dir was configured in another folder; configuring it anew here" >&2
      rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
  fi
  # A tree configured here with the same options needs no new configure: the
  # build itself runs CMake again when a CMake file or a globbed folder
  # changes. That saves a second on every build that has nothing to do.
  local stamp="$dir/.configured-with" options
  options="$(pwd -P) $*"
  if [ -f "$dir/build.ninja" ] && [ -f "$dir/CMakeCache.txt" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$options" ]; then
    return 0
  fi
  # A tree's first configure takes a while (CMake tries the compilers).
  [ -f "$dir/CMakeCache.txt" ] ||
    echo "build: configuring $dir for the first time (about 10 to 30 s)" >&2
  # The toolchain file only counts at the first configure; CMake's warning
  # that a later one did not use it is noise to whoever runs this.
  cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli "$@" >/dev/null
  printf '%s\n' "$options" >"$stamp"
}
