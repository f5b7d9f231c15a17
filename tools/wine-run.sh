#!/usr/bin/env bash
# Runs one Windows program under Wine for a test or a job. The caller sets
# WINEPREFIX (each CTest test sets its own inside the build tree) and may set
# WINEARCH (win32 or win64); without it the program's own architecture names
# the prefix's. Without a display a private Xvfb server is started, so dialogs
# are real windows, and CELLUMBRA_PRIVATE_DISPLAY=1 tells the programs that
# nobody sees them. `tools/wine-run.sh --prepare` only makes the prefix.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX must be set (a folder inside the build tree)" >&2
  exit 2
fi
prepare_only=0
[ "${1:-}" != --prepare ] || { prepare_only=1; shift; }
# A Ctrl-C before the program runs ends what runs then and is noted here,
# so that the program is not started after it.
interrupted=0
trap 'interrupted=1' INT

# The PE machine field of a Windows program: 8664 for x86-64, 14c for x86.
pe_machine() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$pe" ] || return 1
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" 2>/dev/null | tr -d ' '
}
machine=
[ ! -f "${1:-}" ] || machine=$(pe_machine "$1")
if [ -z "${WINEARCH:-}" ]; then
  # A prefix keeps the architecture it was made with; an unqualified new one
  # would be win64 whenever 64-bit Wine is installed.
  WINEARCH=win32
  [ "$machine" != 8664 ] || WINEARCH=win64
fi
case "$WINEARCH" in
  win32|win64) export WINEARCH ;;
  *) echo "wine-run: WINEARCH must be win32 or win64, not '$WINEARCH'" >&2; exit 2 ;;
esac
# A prefix made for the other architecture (by a run before WINEARCH was set,
# when 64-bit Wine made every new prefix win64) would refuse to start. The
# build tree's prefixes hold nothing of the user's: make such a one anew.
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH\$" "$WINEPREFIX/system.reg"; then
  case "$(cd "$WINEPREFIX" && pwd -P)" in
    */build/*)
      echo "wine-run: ${WINEPREFIX##*/} was made for another architecture; making it anew for $WINEARCH" >&2
      rm -rf "$WINEPREFIX" ;;
  esac
fi
# A 64-bit program started through the 32-bit loader (what `wine` is when
# both are installed) is handed on through start.exe and ShellExecuteEx: one
# process more, and under load that hand-over now and then fails with
# "ShellExecuteEx failed: Internal error" before the program ever runs. Such
# a program is started by the 64-bit loader itself.
loader=wine
if [ "$machine" = 8664 ]; then
  for candidate in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader=$candidate; break; fi
  done
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No network installers for .NET or HTML engines in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A program that crashes where nothing catches it starts the debugger that
# the prefix's AeDebug key names, Wine's own by default, which in a prefix
# without a person waited for good (a test then took its whole timeout and
# read "Timeout"; ended by hand, it passed with exit 0). With an empty name
# the program ends at once, after Wine's line about the exception, with the
# exception's code as its status (its low byte here). Wine's update of a
# prefix, at its first start after Wine itself changed, names its debugger
# only where no name is there; prefixes made before this was set, or by
# other means, are set before they run.
debugger_off() {
  # Both views of the key in a 64-bit prefix, where 32-bit programs read the other.
  local want=1
  [ "$WINEARCH" = win32 ] || want=2
  [ "$(grep -F -A4 'CurrentVersion\\AeDebug]' "$WINEPREFIX/system.reg" 2>/dev/null |
    grep -c -x '"Debugger"=""')" -ge "$want" ]
}
turn_debugger_off() {
  # `wine reg` is the 32-bit program in a 64-bit prefix: each view named.
  local view views=("")
  [ "$WINEARCH" = win32 ] || views=(/reg:64 /reg:32)
  for view in "${views[@]}"; do
    xvfb-run -a wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
      ${view:+"$view"} >/dev/null 2>&1 || return 1
  done
}
# Wine fills a new prefix with a full copy of its libraries (about 0.6 GB for
# win32, 1.3 GB for win64), and a test run makes some thirty prefixes. So the
# prefixes of one folder are copies of one made once per architecture, with
# the libraries hard-linked (Wine never writes into them) and every other file
# a copy of its own: Wine saves the registry into the same file, and each
# prefix keeps its own settings.
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  parent=$(dirname "$WINEPREFIX")
  template=$parent/.template-$WINEARCH
  mkdir -p "$parent"
  (
    flock 8
    if [ ! -e "$template/.complete" ]; then
      rm -rf "$template"
      WINEPREFIX=$template xvfb-run -a wine wineboot -i >/dev/null 2>&1
      WINEPREFIX=$template xvfb-run -a wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >/dev/null 2>&1
      WINEPREFIX=$template turn_debugger_off
      # Everything on disk before anything is copied.
      WINEPREFIX=$template wineserver -w
      [ -d "$template/drive_c" ] && touch "$template/.unmanaged" "$template/.complete"
    fi
  ) 8>"$template.lock"
  if [ -e "$template/.complete" ]; then
    # Made beside and moved into place whole: a copy cut short (Ctrl-C) would
    # otherwise pass for a prefix and write into the template's files.
    new=$WINEPREFIX.new-$$
    rm -rf "$WINEPREFIX" "$new"
    cp -al "$template" "$new" && rm -f "$new/.complete" &&
      find "$new" -type f ! -path '*/windows/system32/*' ! -path '*/windows/syswow64/*' \
        ! -path '*/windows/winsxs/*' -print0 |
      while IFS= read -r -d '' f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f"; done &&
      mv "$new" "$WINEPREFIX"
    rm -rf "$new"
  fi
fi
mkdir -p "$WINEPREFIX"
if ! debugger_off && ! turn_debugger_off; then
  echo "wine-run: could not turn Wine's debugger off in ${WINEPREFIX##*/}: a crash may wait for it" >&2
fi
# Our displays have no window manager: Wine would wait seconds for one every
# time a window is hidden. Unmanaged windows skip that; set once per prefix.
if [ ! -e "$WINEPREFIX/.unmanaged" ]; then
  xvfb-run -a wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 \
    && touch "$WINEPREFIX/.unmanaged"
fi
if [ "$prepare_only" -eq 1 ]; then
  [ "$interrupted" -eq 0 ] || exit 130
  exit 0
fi

# Wine turns the arguments into Windows text, and Windows names back into
# file names, through the character set of the locale. Under C or POSIX
# (containers, cron, CI) that set is ASCII, and a name such as 'Fotoğraf.jpg'
# would arrive mangled. Names are UTF-8 nearly everywhere: Wine then runs
# under C.UTF-8, which every glibc system has. A name that is not UTF-8 can
# pass only under the legacy locale it was made in.
charset=$(locale charmap 2>/dev/null)
if [ "$charset" = UTF-8 ] || [ "$charset" = ANSI_X3.4-1968 ]; then
  needs_utf8=0
  for arg in "$@"; do
    ! printf %s "$arg" | iconv -f ASCII -t ASCII >/dev/null 2>&1 || continue
    if ! printf %s "$arg" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
      echo "wine-run: the name '$arg' is not valid UTF-8, and Wine cannot pass it on under this locale" \
        "($charset); rename the file" >&2
      exit 2
    fi
    needs_utf8=1
  done
  [ "$needs_utf8" -eq 0 ] || [ "$charset" = UTF-8 ] || export LC_ALL=C.UTF-8
fi

# The program answers a Ctrl-C itself, with its own exit code and words; Wine
# hands the signal on once the program runs. Until then (Wine starting, the
# program loading) the signal would end it without a word, so it starts with
# the signal ignored: Wine sets its own handler regardless. This script, and
# the filter below, then also outlive a Ctrl-C, so that the program's last
# words reach the terminal and its display stays until it has ended.
start_ignoring_interrupts() {
  trap '' INT
  if [ "$interrupted" -eq 1 ]; then
    echo "wine-run: interrupted; nothing was run" >&2
    exit 130
  fi
}
if [ -z "${DISPLAY:-}" ]; then
  # Nobody sees this display: filterhost then answers message boxes itself
  # and refuses --dialog unless told that the caller drives the windows.
  export CELLUMBRA_PRIVATE_DISPLAY=1
  # A terminal sends Ctrl-C to its whole foreground process group. A display
  # in that group would end with it and take the program's windows away in
  # mid-run, so the program would die of an X error instead of answering the
  # Ctrl-C itself. The display therefore gets a session of its own, and only
  # the program and this script see the terminal's signals.
  private=$(mktemp -d -t wine-run.XXXXXX) || exit 2
  xvfb=
  finish() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null
    rm -rf "$private"
  }
  trap finish EXIT
  trap 'exit 129' HUP
  trap 'exit 143' TERM
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  # The server takes every cookie of its file, whatever display it names.
  xauth -q -f "$private/auth" add :0 . "$cookie" 2>/dev/null
  # Should this script be killed outright, the display still ends once the
  # last of Wine's processes has left it (-terminate).
  setsid Xvfb -displayfd 3 -nolisten tcp -terminate -auth "$private/auth" -screen 0 1280x1024x24 \
    3>"$private/display" </dev/null >/dev/null 2>"$private/xvfb.log" &
  xvfb=$!
  # It writes its display number once it takes connections. On a loaded
  # machine that can take seconds; one that fails ends, which ends the wait.
  for _ in $(seq 1200); do
    grep -q '^[0-9]' "$private/display" 2>/dev/null && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  number=$(head -n 1 "$private/display" 2>/dev/null)
  if ! [[ $number =~ ^[0-9]+$ ]]; then
    echo "wine-run: the private display (Xvfb) did not start:" >&2
    cat "$private/xvfb.log" >&2
    exit 2
  fi
  xauth -q -f "$private/auth" add ":$number" . "$cookie" 2>/dev/null
  export DISPLAY=:$number XAUTHORITY=$private/auth
  start_ignoring_interrupts
  # Wine's farewell to a display that goes away after the program is noise.
  "$loader" "$@" 2> >(exec grep -v --line-buffered -e '^X connection to .* broken' \
    -e '^XIO:  fatal IO error' -e '^      after [0-9]* requests' >&2)
  exit $?
fi
start_ignoring_interrupts
exec "$loader" "$@"
