#!/usr/bin/env bash
# The build command in a checkout that was moved, and two of it at once.
# Configures only (the "help" target builds nothing), so it costs seconds.
set -uo pipefail
source "$(dirname "$0")/support.sh"

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

# Now nothing needs building: two at once say nothing.
quiet_pair() {
  (cd "$work/twice" && tools/build.sh native help >/dev/null 2>"$work/err-a") & local a=$!
  (cd "$work/twice" && tools/build.sh native help >/dev/null 2>"$work/err-b") & local b=$!
  wait $a && wait $b && [ ! -s "$work/err-a" ] && [ ! -s "$work/err-b" ]
}
check "two builds at once with nothing to build say nothing" quiet_pair

# A build that takes its time (its CMake slowed down) makes the other wait,
# which then says for what.
mkdir -p "$work/slow"
printf '#!/bin/sh
sleep 12
exec %s "$@"
' "$(command -v cmake)" >"$work/slow/cmake"
chmod +x "$work/slow/cmake"
named_wait() {
  (cd "$work/twice" && PATH="$work/slow:$PATH" exec tools/build.sh native help >/dev/null 2>&1) & local a=$!
  local i=0 # until it holds the lock
  until [ "$(cat "$work/twice/build/.build.lock" 2>/dev/null)" = "$a" ] || [ $((i += 1)) -gt 100 ]; do sleep 0.1; done
  (cd "$work/twice" && tools/build.sh native help >/dev/null 2>"$work/err") || return 1
  wait $a && grep -qx "build: waiting for the build running in this checkout (pid $a) to finish" "$work/err"
}
check "a build that must wait names the build it waits for" named_wait

# A build with steps to run says how many and about how long, once, beside
# Ninja's own [n/m] lines (a CMake that only pretends to build them).
printf '#!/bin/sh
[ "$1" = --build ] || exec %s "$@"
echo "[0/2] Re-checking globbed directories..."
i=1; while [ $i -le 150 ]; do echo "[$i/150] Building CXX object step$i.obj"; i=$((i + 1)); done
' "$(command -v cmake)" >"$work/slow/cmake"
announced() {
  (cd "$work/twice" && PATH="$work/slow:$PATH" tools/build.sh native help >"$work/out" 2>"$work/err") &&
    [ "$(wc -l <"$work/err")" -eq 1 ] &&
    grep -Eqx "build: build/native: 150 steps to build, (about|under) [a-z0-9 ]+ on $(nproc) processors" "$work/err" &&
    grep -qx '\[150/150\] Building CXX object step150.obj' "$work/out"
}
check "a build with steps to run says how many and about how long" announced

echo "build-script: $((5 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
