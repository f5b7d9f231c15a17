#!/usr/bin/env bash
# Runs one Windows program under Wine for a test or a job. The caller sets
# WINEPREFIX (each CTest test sets its own inside the build tree) and may set
# WINEARCH (win32 or win64); without it the program's own architecture names
# the prefix's. Without a display a private Xvfb server is started, so dialogs
# are real windows, and CELLUMBRA_PRIVATE_DISPLAY=1 tells the programs that
# nobody sees them.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX must be set (a folder inside the build tree)" >&2
  exit 2
fi

# The PE machine field of a Windows program: 8664 for x86-64, 14c for x86.
pe_machine() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$pe" ] || return 1
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" 2>/dev/null | tr -d ' '
}
if [ -z "${WINEARCH:-}" ]; then
  # A prefix keeps the architecture it was made with; an unqualified new one
  # would be win64 whenever 64-bit Wine is installed.
  WINEARCH=win32
  [ -f "${1:-}" ] && [ "$(pe_machine "$1")" = 8664 ] && WINEARCH=win64
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
export WINEDEBUG="${WINEDEBUG:--all}"
# No network installers for .NET or HTML engines in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
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
      # Everything on disk before anything is copied.
      WINEPREFIX=$template wineserver -w
      [ -d "$template/drive_c" ] && touch "$template/.unmanaged" "$template/.complete"
    fi
  ) 8>"$template.lock"
  if [ -e "$template/.complete" ]; then
    rm -rf "$WINEPREFIX"
    cp -al "$template" "$WINEPREFIX" && rm -f "$WINEPREFIX/.complete"
    find "$WINEPREFIX" -type f ! -path '*/windows/system32/*' ! -path '*/windows/syswow64/*' \
      ! -path '*/windows/winsxs/*' -print0 |
      while IFS= read -r -d '' f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f"; done
  fi
fi
mkdir -p "$WINEPREFIX"
# Our displays have no window manager: Wine would wait seconds for one every
# time a window is hidden. Unmanaged windows skip that; set once per prefix.
if [ ! -e "$WINEPREFIX/.unmanaged" ]; then
  xvfb-run -a wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 \
    && touch "$WINEPREFIX/.unmanaged"
fi
if [ -z "${DISPLAY:-}" ]; then
  # Nobody sees this display: filterhost then answers message boxes itself
  # and refuses --dialog unless told that the caller drives the windows.
  export CELLUMBRA_PRIVATE_DISPLAY=1
  # The private server goes away with the program; Wine's farewell to it is noise.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@" \
    2> >(grep -v --line-buffered '^X connection to .* broken' >&2)
fi
exec wine "$@"
