#!/usr/bin/env bash
# The build command in a checkout that was moved, and two of it at once.
# Configures only (the "help" target builds nothing), so it costs seconds.
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # name, then the command
  local name=$1; shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failed=$((failed + 1)); fi
}
copy_checkout() {
  mkdir -p "$1" && (cd "$src" && git ls-files -z | xargs -0 cp --parents -t "$1")
}

copy_checkout "$work/first"
(cd "$work/first" && tools/build.sh win32 help >/dev/null 2>&1)
mv "$work/first" "$work/moved"
quiet_rebuild() {
  (cd "$work/moved" && tools/build.sh win32 help >/dev/null 2>&1) &&
    (cd "$work/moved" && tools/build.sh win32 help >/dev/null 2>"$work/err") &&
    ! grep -q 'Manually-specified variables' "$work/err"
}
check "a moved checkout is configured anew and builds, without CMake's unused-variable noise" quiet_rebuild

copy_checkout "$work/twice"
two_at_once() {
  (cd "$work/twice" && tools/build.sh native help >/dev/null 2>&1) & local a=$!
  (cd "$work/twice" && tools/build.sh native help >/dev/null 2>&1) & local b=$!
  wait $a && wait $b
}
check "two builds at once in one checkout both succeed" two_at_once

echo "build-script: $((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
