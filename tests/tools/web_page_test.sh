#!/usr/bin/env bash
# The browser page as a release is made: from two copies of the checkout in
# two folders, the second built on a day a year later. It compiles two small
# files for WebAssembly in each, so it takes seconds.
set -uo pipefail
source "$(dirname "$0")/support.sh"
build_in() { # folder, then what runs the build (nothing, or faketime)
  local dir=$1; shift
  copy_checkout "$dir" && (cd "$dir" && "$@" web/build.sh) >"$work/log" 2>&1 || { cat "$work/log"; return 1; }
  cp "$dir"/dist/*-web.html "$work/$(basename "$dir").html"
}
later=(env NO_FAKE_STAT=1 DONT_FAKE_MONOTONIC=1 faketime -f +400d)
build_in "$work/one" && build_in "$work/somewhere/else/two" "${later[@]}"

check "the same sources give the same page in another folder on another day" cmp "$work/one.html" "$work/two.html"

version=$(sed -nE 's/^project\(Cellumbra VERSION ([0-9.]+).*/\1/p' "$src/CMakeLists.txt")
# One file named with the version, the module inside it with nothing to
# import, and no path of this machine.
self_contained() {
  local page=$work/somewhere/else/two/dist/Cellumbra-$version-web.html
  [ -f "$page" ] && grep -q "<title>Cellumbra $version</title>" "$page" &&
    ! grep -qF -e "$work" -e "$src" -e "$HOME/" "$page" &&
    ! grep -qiE '(src|href)="(https?:)?//' "$page" &&
    node -e '
      const html = require("fs").readFileSync(process.argv[1], "utf8");
      const b64 = /id="kernel">([^<]*)</.exec(html)[1].replace(/\s/g, "");
      const m = new WebAssembly.Module(Buffer.from(b64, "base64"));
      process.exit(WebAssembly.Module.imports(m).length === 0 ? 0 : 1);' "$page"
}
check "the page is one file named with the version, its module imports nothing, and it names no path of this machine" self_contained

echo "web-page: $((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
