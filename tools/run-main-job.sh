#!/usr/bin/env bash
# The main job: the real plug-in in the reference host under Wine, on a
# picture (default: the bundled one), writing the filtered picture.
set -Eeuo pipefail

usage() {
  cat <<'EOF'
Usage: tools/run-main-job.sh [--arch 32|64] [PICTURE [SIZE [OUTPUT]]]

Runs the Cellumbra plug-in in the reference host under Wine on PICTURE (PNG,
JPEG or BMP; default assets/sample.png) with cell size SIZE (a whole number
from 1 to 100; default 12) and writes OUTPUT (.png, .bmp or .jpg; default
build/main-job/NAME-cells.png). Relative paths are taken from the folder you
are in. OUTPUT may be PICTURE: it is replaced only once the new picture is
whole, and Ctrl-C at any moment leaves it as it was. Names in any script work
under any locale (under C or POSIX, Wine runs under C.UTF-8); a name that is
not valid UTF-8 cannot reach Wine and is refused: rename the file.

  --arch 32    the 32-bit plug-in and host (default)
  --arch 64    the 64-bit plug-in and host, build/win64, in a 64-bit Wine
               prefix (also --64)
  --keep-orientation
               filter a photo as stored and keep its EXIF orientation tag
               (by default it is turned upright as the tag says, as image
               editors do, and the output's tag says upright)
  -h, --help   this text

Exit codes: 0 done; 1 bad arguments, a failed build or a start of Wine that
failed; 2 picture unreadable or not writable; 3 plug-in error; 4 cancelled;
5 not a plug-in; 6 the plug-in crashed; 130 interrupted (nothing written).
EOF
}

fail() {
  echo "run-main-job: $*" >&2
  exit 1
}
# A command of this script that fails where nothing was foreseen ends the
# job, and says where rather than ending it without a word; also inside a
# function, whose commands would otherwise end it silently (set -E).
trap 'echo "run-main-job: stopped at line $LINENO by a command that failed (exit $?)" >&2' ERR

arch=32
args=()
host_options=()
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) usage; exit 0 ;;
    --arch) [ $# -ge 2 ] || fail "--arch needs 32 or 64"; arch=$2; shift ;;
    --arch=*) arch=${1#--arch=} ;;
    --32|--64) arch=${1#--} ;;
    --keep-orientation) host_options+=("$1") ;;
    --) shift; args+=("$@"); break ;;
    -[0-9]*) args+=("$1") ;; # a negative size, refused below with the range
    -*.*|-*/*) fail "unknown option '$1' (for a file whose name begins with '-', write ./$1, or put -- before it)" ;;
    -?*) fail "unknown option '$1' (see tools/run-main-job.sh --help)" ;;
    *) args+=("$1") ;;
  esac
  shift
done
[ "$arch" = 32 ] || [ "$arch" = 64 ] || fail "--arch takes 32 or 64, not '$arch'"
[ ${#args[@]} -le 3 ] || fail "unexpected argument '${args[3]}': give at most PICTURE, SIZE and OUTPUT"

size=${args[1]:-12}
if ! [[ $size =~ ^[0-9]{1,3}$ ]] || [ $((10#$size)) -lt 1 ] || [ $((10#$size)) -gt 100 ]; then
  fail "the cell size must be a whole number from 1 to 100, not '$size'"
fi
size=$((10#$size))

# Paths the user typed are theirs, relative to where they are; the job then
# works from the repository.
absolute() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$PWD/$1" ;; esac; }
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${args[0]:-}" ]; then picture=$(absolute "${args[0]}"); else picture=$root/assets/sample.png; fi
if [ -n "${args[2]:-}" ]; then
  out=$(absolute "${args[2]}")
  shown_out=${args[2]}
else
  name=$(basename "$picture")
  out=$root/build/main-job/${name%.*}-cells.png
  # Named as the user can find it from the folder they are in.
  shown_out=$out
  [ "$PWD" = "$root" ] && shown_out=build/main-job/${name%.*}-cells.png
fi

# A terminal sends Ctrl-C to every process of the job. Once the host runs it
# answers itself (exit 130 and one line), and so does tools/wine-run.sh until
# it starts the host; before that (installing, building, preparing Wine) and
# while Wine starts, this script says it.
interrupted=0
trap 'interrupted=1' INT
stop_if_interrupted() {
  [ "$interrupted" -eq 1 ] || return 0
  echo "run-main-job: interrupted; nothing was written" >&2
  exit 130
}
# step COMMAND...: runs a step before the host; stops on its failure or a Ctrl-C.
step() {
  local code=0
  "$@" || code=$?
  stop_if_interrupted
  [ "$code" -eq 0 ] || exit "$code"
}

# A picture that cannot be read is said at once, before anything is built
# or Wine starts, in the words the host would use.
problem=
if [ -d "$picture" ]; then problem="it is a folder"
elif [ ! -e "$picture" ]; then problem="no such file"
elif [ ! -r "$picture" ]; then problem="access denied (you have no permission to read it)"
elif [ ! -s "$picture" ]; then problem="the file is empty (0 bytes)"
fi
if [ -n "$problem" ]; then
  echo "run-main-job: cannot read '$picture': $problem" >&2
  exit 2
fi

cd "$root"
# Each step that takes a while says so as it starts (the bootstrap when it
# installs, the build when it has steps to run, Wine's preparation).
step ./tools/bootstrap.sh
tree=build/win$arch
export WINEARCH=win$arch
prefix=$root/build/wineprefix/main-job
[ "$arch" = 32 ] || prefix=$prefix-64
# The build's steps as a counter: redrawn on a terminal, a line at every
# tenth of them in a log. Ninja writes a failing step's command, the
# compiler's words and its own verdict to standard output too: they are kept
# aside and shown if the build fails, which would otherwise end the job
# without a word.
build_counter() {
  local terminal=0
  [ ! -t 2 ] || terminal=1
  awk -v terminal="$terminal" -v said="$1" '
    /^\[[0-9]+\/[0-9]+\] / && !/Re-checking globbed|Re-running CMake/ {
      count = $1; gsub(/[^0-9\/]/, "", count); split(count, n, "/")
      if (terminal) printf "\rbuild: step %d of %d", n[1], n[2] > "/dev/stderr"
      else if (int(n[1] * 10 / n[2]) != shown) { shown = int(n[1] * 10 / n[2]); printf "build: step %d of %d\n", n[1], n[2] > "/dev/stderr" }
      drawn = terminal
      fflush("/dev/stderr")
      next
    }
    { print > said }
    END { if (drawn) printf "\n" > "/dev/stderr" }'
}
step_build() {
  local said=build/.main-job-build-win$arch.log code=0
  mkdir -p build
  : >"$said"
  ./tools/build.sh "win$arch" Cellumbra filterhost | build_counter "$said" || code=$?
  if [ "$code" -ne 0 ]; then
    tail -n 40 "$said" >&2
    echo "run-main-job: building the plug-in and the host failed (the build's whole output: $said)" >&2
  fi
  return "$code"
}
step step_build
# Only the job's own folder is made; a folder the user named must exist.
[ -n "${args[2]:-}" ] || mkdir -p build/main-job

# A picture that is replaced keeps its permissions and is never readable
# more widely, not even for a moment. Wine makes every file with the mask of
# its server, which the first Wine program of the prefix starts: from here on
# that mask lets the user alone in, so the host's new file is private, and
# once it has taken the old one's place it gets the old one's mode and group
# (the host replaces the file a symbolic link points to, and so does this).
# A new picture gets the mode any new file of the user gets.
new_file_mode=$(printf '%o' $((0666 & ~$(umask))))
umask 077
target=$(readlink -f -- "$out" 2>/dev/null || printf '%s\n' "$out")
keep_mode=$new_file_mode keep_group=
if [ -f "$target" ]; then read -r keep_mode keep_group < <(stat -c '%a %g' -- "$target"); fi
restore_mode() {
  [ -f "$target" ] || return 0
  local mode=$keep_mode
  # A group the user is not in cannot be given back: then it reads nothing.
  if [ -n "$keep_group" ] && ! chgrp -- "$keep_group" "$target" 2>/dev/null; then
    mode=$(printf '%o' $((8#$mode & ~070)))
  fi
  chmod -- "$mode" "$target"
}

# Tests point the job at a prefix of their own.
export WINEPREFIX=${CELLUMBRA_MAIN_JOB_PREFIX:-$prefix}
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  # A first prefix took 11 s here (32-bit) and 18 s (64-bit), a copy of one
  # a second or two.
  wait_words="up to about 15 s"
  [ "$arch" = 32 ] || wait_words="up to about 20 s"
  echo "run-main-job: first run: preparing the Wine environment in ${WINEPREFIX#"$root"/} (once; $wait_words)" >&2
  step ./tools/wine-run.sh --prepare
fi
# A Wine server of this prefix that something else started (a program run
# by hand with WINEPREFIX set to it) makes files with its own mask, which may
# let others read the new picture: the job waits until it has ended.
foreign_server() {
  local id pid mask cwd home
  id=server-$(printf '%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  home=$(cd "$WINEPREFIX" && pwd -P)
  for pid in $(pgrep wineserver); do
    cwd=$(readlink "/proc/$pid/cwd" 2>/dev/null)
    # A server that has just started is still in the prefix itself, for
    # about a second, before it moves to its own folder.
    [ "$(basename "$cwd")" = "$id" ] || [ "$cwd" = "$home" ] || continue
    mask=$(sed -n 's/^Umask:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null)
    [ -z "$mask" ] || [ $((8#$mask & 077)) -eq $((8#077)) ] || return 0
  done
  return 1
}
if foreign_server; then
  echo "run-main-job: waiting for the Wine programs started by hand in ${WINEPREFIX#"$root"/} to end" \
    "('WINEPREFIX=${WINEPREFIX} wineserver -k' ends them), so that the new picture stays private" >&2
  while foreign_server; do
    sleep 0.2
    stop_if_interrupted
  done
fi

# Under Wine a terminal is no console to the host: say which it is.
progress=lines
[ ! -t 2 ] || progress=bar
# The output as it was: a new picture replaces it as a new file.
state_of() { stat -L -c '%i %y %s' -- "$1" 2>/dev/null || true; }
before=$(state_of "$out")
# The host speaks from its first moment, so an end with exit 1 and not a
# word is Wine's own: its loader passes on, silently, the failure of the
# server it starts for the prefix, and a loaded test run met such an end
# once. Nothing was read or written then, and the host is started once more.
# What the host says passes on as it comes, and is noted only to know that
# it spoke.
heard=$(mktemp)
trap 'rm -f "$heard"' EXIT
run_host() {
  local code=0
  : >"$heard"
  ./tools/wine-run.sh "$tree/filterhost.exe" "${host_options[@]}" --progress "$progress" --settings "$size" \
    "$tree/Cellumbra.8bf" "$picture" "$out" 2> >(exec tee -i -a "$heard" >&2) || code=$?
  return "$code"
}
unheard_start() {
  [ "$status" -eq 1 ] && [ "$interrupted" -eq 0 ] && [ "$(state_of "$out")" = "$before" ] || return 1
  # The note follows what the host says by a moment (the copy ends only with
  # Wine's server, so it is not waited for).
  sleep 0.5
  [ ! -s "$heard" ]
}
status=0
run_host || status=$?
if unheard_start; then
  echo "run-main-job: Wine ended before the host started (exit 1, without a word); starting it once more" >&2
  status=0
  run_host || status=$?
  ! unheard_start || echo "run-main-job: Wine ended again before the host started; nothing was written" >&2
fi
[ "$status" -ne 0 ] || [ "$(state_of "$out")" = "$before" ] || restore_mode
# Wine ends a program that a Ctrl-C meets while it starts with exit 0 and
# without a word.
if [ "$status" -eq 0 ] && [ "$(state_of "$out")" = "$before" ]; then
  stop_if_interrupted
fi
[ "$status" -ne 0 ] || echo "Filtered picture written to $shown_out"
exit "$status"
