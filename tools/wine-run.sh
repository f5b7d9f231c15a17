#!/usr/bin/env bash
# Runs one Windows program under Wine for a test or a job. The caller may set
# WINEPREFIX (each CTest test sets its own inside the build tree); without a
# display a private Xvfb server is started, so dialogs are real windows, and
# CELLUMBRA_PRIVATE_DISPLAY=1 tells the programs that nobody sees them.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX must be set (a folder inside the build tree)" >&2
  exit 2
fi
mkdir -p "$WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
# No network installers for .NET or HTML engines in a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
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
