#!/usr/bin/env bash
# tools/run-main-job.sh as a user meets it: its usage, mistakes on its command
# line, relative paths typed in another folder, the first run in a new Wine
# prefix, progress in a log, and Ctrl-C while the host filters a picture that
# is also its output. Arguments: the build folder (for scratch space and the
# host) and its architecture, 32 or 64.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${2:-32}
job=$root/tools/run-main-job.sh
scratch=$1/test-scratch/main-job
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
# A picture that is not there: said with the path the user meant, and no
# folder made for the output.
check missing 2 "$job" --arch "$arch" missing.png 5 new/out.png
says missing "$scratch/elsewhere/missing.png': no such file"
[ ! -e new ] || { echo "FAIL missing: the output folder was made"; failed=1; }
says missing "first run: preparing the Wine environment"

mkdir out
check relative 0 "$job" --arch "$arch" photo.png 7 out/cells.png
says relative "filterhost: filtering '$scratch/elsewhere/photo.png'"
says relative "filterhost: filtering done (100%)"
says relative "Filtered picture written to out/cells.png"
never_says relative $'\r['
never_says relative "first run"
[ -s out/cells.png ] || { echo "FAIL relative: no out/cells.png"; failed=1; }
# On a terminal (which Wine does not show the host as a console) the bar.
check terminal 0 script -qec "'$job' --arch $arch photo.png 7 out/cells.png" /dev/null
says terminal $'\r[....'
says terminal "] 100%"

# Ctrl-C while the host filters its own input: exit 130, the picture as it was.
before=$(md5sum <photo.png)
export WINEPREFIX=$CELLUMBRA_MAIN_JOB_PREFIX WINEARCH=win$arch HOSTPROBE_MAIN=slow HOSTPROBE_SCRIPT=
"$root/tools/wine-run.sh" "$1/filterhost.exe" --filter-rect 0,0,64,300 "$1/tests/HostProbe.8bf" photo.png photo.png \
  >interrupt.log 2>&1 &
job_pid=$!
# The Windows program itself: 64-bit Wine starts it through a launcher and
# it need not stay a child of ours, so look for it by its prefix and by a
# command line that begins with the program (as a Windows or a Unix path).
host_process() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -qE '^([A-Z]:|/)[^ ]*filterhost\.exe --filter-rect' && basename "$p"
  done
}
host_pid=
for _ in $(seq 150); do
  if grep -q "filtering '" interrupt.log 2>/dev/null; then
    host_pid=$(host_process | head -n 1)
    [ -n "$host_pid" ] && break
  fi
  sleep 0.2
done
if [ -n "$host_pid" ]; then
  sleep 1
  kill -INT "$host_pid"
  wait "$job_pid"
  code=$?
  [ "$code" -eq 130 ] || { echo "FAIL interrupt: exit $code"; cat interrupt.log; failed=1; }
  grep -q "interrupted; nothing was written" interrupt.log || { echo "FAIL interrupt:"; cat interrupt.log; failed=1; }
  [ "$(md5sum <photo.png)" = "$before" ] || { echo "FAIL interrupt: the picture changed"; failed=1; }
  [ "$(ls)" = "$(printf 'interrupt.log\nout\nphoto.png')" ] || { echo "FAIL interrupt: left behind:"; ls; failed=1; }
else
  echo "FAIL interrupt: the host did not start"; cat interrupt.log; failed=1
  wait "$job_pid"
fi

[ "$failed" -eq 0 ] && echo "main job: all cases passed"
exit "$failed"
