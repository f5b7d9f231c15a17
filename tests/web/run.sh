#!/usr/bin/env bash
# The browser page's tests: writes the page to dist/ (web/build.sh), installs
# the pinned puppeteer-core from the lock file when it is missing or stale,
# and drives Debian's chromium and firefox-esr over the page (page_test.mjs)
# against the native tree's plugin_cells (tools/build.sh native plugin_cells).
# Ends with "web: N passed, N failed" over both engines; the screenshots go to
# build/web-tests/.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
fail() { echo "web: $1"; echo "web: 0 passed, 1 failed"; exit 1; }

page=$(web/build.sh | sed -nE 's/^web: (.*) \([0-9]+ bytes\)$/\1/p')
[ -f "$page" ] || fail "the page was not built"
reference=build/native/tests/plugin_cells
[ -x "$reference" ] || fail "$reference is missing; run tools/build.sh native plugin_cells first"

cd tests/web
# npm ci only when the installed tree was not made from this lock file.
if ! cmp -s package-lock.json node_modules/.installed-from-lock; then
  npm ci --no-audit --no-fund --loglevel=error >/dev/null || fail "npm ci failed"
  cp package-lock.json node_modules/.installed-from-lock
fi
exec node page_test.mjs "$root/$page" "$root/$reference" "$root/build/web-tests"
