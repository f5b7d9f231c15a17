#!/usr/bin/env bash
# tools/run-main-job.sh as a user meets it: its usage, mistakes on its command
# line, relative paths typed in another folder, the first run in a new Wine
# prefix, progress in a log, names under an ASCII locale, and Ctrl-C at each
# moment of a run on a picture that is also its output. Arguments: the build
# folder (for scratch space and the host) and its architecture, 32 or 64.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${2:-32}
job=$root/tools/run-main-job.sh
scratch=$1/test-scratch/main-job
# A run just before (this test's own, run again) leaves its prefix's Wine
# server a few seconds, writing the registry as it ends.
[ ! -d "$scratch/prefix" ] || WINEPREFIX=$scratch/prefix wineserver -w
rm -rf "$scratch" && mkdir -p "$scratch/elsewhere"
failed=0

# check NAME WANT_CODE COMMAND...: runs it, keeps its output in $said.
check() {
  local name=$1 want=$2
  shift 2
  said=$("$@" 2>&1)
  local code=$?
  if [ "$code" -ne "$want" ]; then
    echo "FAIL $name: exit $code, want $want"; echo "$said"; failed=1
  fi
}
says() { grep -qF -- "$2" <<<"$said" || { echo "FAIL $1: no '$2' in:"; echo "$said"; failed=1; }; }
never_says() { ! grep -qF -- "$2" <<<"$said" || { echo "FAIL $1: '$2' in:"; echo "$said"; failed=1; }; }

check help 0 "$job" --help
says help "Usage: tools/run-main-job.sh"
says help "--arch 64"
says help "--keep-orientation"
check extra 1 "$job" a.png 5 out.png more
says extra "unexpected argument 'more'"
for size in 0 -5 101 abc 1e9 " 7"; do
  check "size $size" 1 "$job" a.png "$size"
  says "size $size" "a whole number from 1 to 100, not '$size'"
  never_says "size $size" "--help"
done
check arch 1 "$job" --arch 16
says arch "--arch takes 32 or 64"

cd "$scratch/elsewhere"
cp "$root/assets/sample.png" photo.png
export CELLUMBRA_MAIN_JOB_PREFIX=$scratch/prefix
# Inputs that cannot be read: said with the path the user meant before Wine
# starts (so before the first run prepares it), and no folder made for the
# output. Root reads every file, so the locked one is a case only for others.
: >empty.png
mkdir folder.png
rows=("missing.png|2|$scratch/elsewhere/missing.png': no such file" "empty.png|2|empty.png': the file is empty (0 bytes)"
  "folder.png|2|folder.png': it is a folder" "-photo.png|1|write ./-photo.png, or put -- before it")
if [ "$(id -u)" -ne 0 ]; then
  cp photo.png locked.png && chmod 000 locked.png && rows+=("locked.png|2|locked.png': access denied")
fi
for row in "${rows[@]}"; do
  IFS='|' read -r name code words <<<"$row"
  check "input $name" "$code" "$job" --arch "$arch" "$name" 5 new/out.png
  says "input $name" "$words"
  never_says "input $name" "first run"
done
[ ! -e new ] || { echo "FAIL missing: the output folder was made"; failed=1; }
rm -rf empty.png folder.png locked.png

mkdir out
check relative 0 "$job" --arch "$arch" photo.png 7 out/cells.png
says relative "filterhost: filtering '$scratch/elsewhere/photo.png'"
says relative "filterhost: filtering done (100%)"
says relative "Filtered picture written to out/cells.png"
never_says relative $'\r['
says relative "first run: preparing the Wine environment"
[ -s out/cells.png ] || { echo "FAIL relative: no out/cells.png"; failed=1; }
# A build with steps to run says so and counts them as it goes, and one that
# fails says why, in the compiler's words (a CMake that only pretends to
# build them: the tree is built).
mkdir -p "$scratch/fake"
printf '#!/bin/sh
[ "$1" = --build ] || exec %s "$@"
i=1; while [ $i -le 60 ]; do
  echo "[$i/60] Building CXX object step$i.obj"
  if [ $i = 7 ] && [ -n "${FAKE_BUILD_FAILS:-}" ]; then
    printf "FAILED: step7.obj\\nstep7.cpp:3:1: error: expected a declaration\\nninja: build stopped: subcommand failed.\\n"
    exit 1
  fi
  i=$((i + 1))
done
' "$(command -v cmake)" >"$scratch/fake/cmake"
chmod +x "$scratch/fake/cmake"
check building 0 env PATH="$scratch/fake:$PATH" "$job" --arch "$arch" photo.png 7 out/cells.png
says building "build: build/win$arch: 60 steps to build, "
says building "build: step 6 of 60"
says building "build: step 60 of 60"
never_says building "Building CXX object"
check "a failing build" 1 env PATH="$scratch/fake:$PATH" FAKE_BUILD_FAILS=1 "$job" --arch "$arch" photo.png 7 out/cells.png
says "a failing build" "step7.cpp:3:1: error: expected a declaration"
says "a failing build" "run-main-job: building the plug-in and the host failed"
never_says "a failing build" "filterhost:"
# A command of the job that fails where nothing was foreseen, and says
# nothing itself, still ends the job with a word of where: one at the top
# (the scratch file) and one inside a function (a replaced picture's mode).
mkdir -p "$scratch/failing"
for helper in mktemp chmod; do
  printf '#!/bin/sh\nexit 1\n' >"$scratch/failing/$helper"
  chmod +x "$scratch/failing/$helper"
  check "a failing $helper" 1 env PATH="$scratch/failing:$PATH" "$job" --arch "$arch" photo.png 7 out/cells.png
  says "a failing $helper" "run-main-job: stopped at line"
  rm "$scratch/failing/$helper"
done
# Wine's loader ends with exit 1 and not a word when the server it starts
# for the prefix fails to come up: the job starts the host once more, and
# says so; twice, and it says that nothing was written (a loader that fails
# so the first FAILS times).
mkdir -p "$scratch/unstarted"
for loader in wine wine64; do
  printf '#!/bin/sh
[ "$(cat %s/starts 2>/dev/null | wc -l)" -ge "$FAILS" ] || { echo >>%s/starts; exit 1; }
exec %s "$@"
' "$scratch/unstarted" "$scratch/unstarted" "$(command -v "$loader" || echo /usr/lib/wine/$loader)" \
    >"$scratch/unstarted/$loader"
  chmod +x "$scratch/unstarted/$loader"
done
for fails in 1 2; do
  rm -f "$scratch/unstarted/starts"
  check "Wine failing $fails times" $((fails - 1)) env PATH="$scratch/unstarted:$PATH" FAILS=$fails \
    "$job" --arch "$arch" photo.png 7 out/cells.png
  says "Wine failing $fails times" "run-main-job: Wine ended before the host started (exit 1, without a word); starting it once more"
done
says "Wine failing 2 times" "run-main-job: Wine ended again before the host started; nothing was written"
# On a terminal (which Wine does not show the host as a console) the bar.
check terminal 0 script -qec "'$job' --arch $arch photo.png 7 out/cells.png" /dev/null
says terminal $'\r[....'
says terminal "] 100%"

# Permissions: a replaced picture keeps its mode, in place too; a symbolic
# link stays a link to the file replaced; a new picture gets a new file's.
ln -s out/cells.png link.png
for row in "600 photo.png" "640 out/cells.png" "600 link.png" "$(printf '%o' $((0666 & ~$(umask)))) out/new.png"; do
  read -r mode name <<<"$row"
  [ ! -f "$name" ] || chmod "$mode" "$(readlink -f "$name")"
  check "mode $mode of $name" 0 "$job" --arch "$arch" photo.png 5 "$name"
  [ "$(stat -L -c %a "$name")" = "$mode" ] || { echo "FAIL mode of $name: $(stat -L -c %a "$name")"; failed=1; }
done
[ -L link.png ] || { echo "FAIL link.png is no longer a link"; failed=1; }
rm link.png out/new.png
# A Wine server of the job's prefix started by hand, whose mask lets others
# read: the job waits for it to end (here after 4 s, as a person ends it)
# rather than write through it.
# The last job's own server, private, lingers a few seconds: once it has
# ended, the one started by hand is new.
WINEPREFIX=$CELLUMBRA_MAIN_JOB_PREFIX wineserver -w
(umask 022 && WINEPREFIX=$CELLUMBRA_MAIN_JOB_PREFIX wineserver -p)
(sleep 4 && WINEPREFIX=$CELLUMBRA_MAIN_JOB_PREFIX wineserver -k) &
check "a server started by hand" 0 "$job" --arch "$arch" photo.png 5 photo.png
says "a server started by hand" "waiting for the Wine programs started by hand"
[ "$(stat -c %a photo.png)" = 600 ] || { echo "FAIL a server started by hand: mode $(stat -c %a photo.png)"; failed=1; }

# Names in any script under a locale whose character set is ASCII (C or
# POSIX: containers, cron, CI); a name that is not UTF-8 cannot pass.
cp photo.png "Fotoğraf ölçü.png"
check "LANG=C" 0 env -u LC_ALL -u LC_CTYPE LANG=C "$job" --arch "$arch" "Fotoğraf ölçü.png" 5 "çıktı.jpg"
says "LANG=C" "Filtered picture written to çıktı.jpg"
check "LC_ALL=C" 0 env LC_ALL=C "$job" --arch "$arch" "çıktı.jpg" 5 "çıktı.jpg"
cp photo.png $'bad\xff.png'
check "not UTF-8" 2 env LC_ALL=C "$job" --arch "$arch" $'bad\xff.png' 5 out/bad.png
says "not UTF-8" "is not valid UTF-8, and Wine cannot pass it on under this locale (ANSI_X3.4-1968); rename the file"
rm -f "Fotoğraf ölçü.png" çıktı.jpg $'bad\xff.png'

# Ctrl-C as a terminal sends it, to the job's whole process group, while the
# host reads, filters and writes a picture that is also its output: with the
# job's own display and with one of the caller's. A test-only pause of the
# host says when it is there.
interrupt_at() {
  local phase=$1 display=$2 before files code
  before=$(md5sum <photo.png)
  files=$(ls)
  set -m
  DISPLAY=$display FILTERHOST_TEST_PAUSE_AT=$phase "$job" --arch "$arch" photo.png 7 photo.png >interrupt.log 2>&1 &
  local group=$!
  set +m
  for _ in $(seq 900); do
    grep -q "test pause while $phase" interrupt.log 2>/dev/null && break
    kill -0 "$group" 2>/dev/null || break
    sleep 0.1
  done
  # The new picture, before it replaces the private one: private too.
  temp_mode=$(stat -c %a photo.png.filterhost-*.tmp 2>/dev/null)
  kill -INT -- -"$group" 2>/dev/null
  wait "$group"
  code=$?
  said=$(cat interrupt.log)
  local name="Ctrl-C while $phase${display:+ on a display}"
  [ "$code" -eq 130 ] || { echo "FAIL $name: exit $code"; echo "$said"; failed=1; }
  [ "$(grep -c interrupted <<<"$said")" -eq 1 ] || { echo "FAIL $name: not one 'interrupted' line:"; echo "$said"; failed=1; }
  says "$name" "filterhost: test pause while $phase"
  [ -z "$temp_mode" ] || [ "$temp_mode" = 600 ] || { echo "FAIL $name: the new file was $temp_mode"; failed=1; }
  never_says "$name" "XIO"
  never_says "$name" "X connection"
  [ "$(md5sum <photo.png)" = "$before" ] || { echo "FAIL $name: the picture changed"; failed=1; }
  rm interrupt.log
  [ "$(ls)" = "$files" ] || { echo "FAIL $name: left behind:"; ls; failed=1; }
}
chmod 640 photo.png
for phase in reading filtering writing; do interrupt_at "$phase" ""; done
display_log=$scratch/display
setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$display_log" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb"' EXIT
for _ in $(seq 600); do grep -q '^[0-9]' "$display_log" && break; kill -0 "$xvfb" 2>/dev/null || break; sleep 0.1; done
for phase in reading filtering writing; do interrupt_at "$phase" ":$(head -n 1 "$display_log")"; done

[ "$failed" -eq 0 ] && echo "main job: all cases passed"
exit "$failed"
