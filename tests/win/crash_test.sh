#!/usr/bin/env bash
# The test machinery itself: a Windows test program that crashes must fail
# within seconds and say its exception, never wait for a debugger until the
# timeout nor pass. The probe (crash_probe.cpp) runs in a CTest of its own
# whose tests take the command and properties that CTest holds for this
# tree's Windows tests, in a prefix made as theirs are, three ways: a crash,
# a crash that takes Wine's own way (no words of the test program), and an
# exit 0 in mid-test without a word. Arguments: the build folder, the probe.
set -u
build=$1
probe=$2
scratch=$build/test-scratch/crash-machinery
rm -rf "$scratch" && mkdir -p "$scratch"
failed=0
fail() { echo "FAIL $*"; failed=1; }

ctest --test-dir "$build" --show-only=json-v1 >"$scratch/tests.json" || { echo "FAIL: ctest lists no tests"; exit 1; }
python3 - "$scratch/tests.json" "$probe" "$build/wineprefix/crash-machinery" >"$scratch/CTestTestfile.cmake" <<'EOF'
import json, sys
tests, probe, prefix = json.load(open(sys.argv[1]))["tests"], sys.argv[2], sys.argv[3]
model = next(t for t in tests if t["name"].startswith("win."))
properties = {p["name"]: p["value"] for p in model.get("properties", [])}
def quoted(text):
    return "[==[" + text + "]==]"
# The emulator, the program, its arguments.
command = [model["command"][0], probe] + model["command"][2:]
for way in ("crash", "unfiltered", "exit0"):
    name = quoted("probe." + way)
    print("add_test(%s %s)" % (name, " ".join(quoted(c) for c in command)))
    environment = [e for e in properties["ENVIRONMENT"] if not e.startswith("WINEPREFIX=")]
    environment += ["WINEPREFIX=" + prefix, "CRASH_PROBE=" + way]
    settings = ["ENVIRONMENT", quoted(";".join(environment))]
    for key in ("PASS_REGULAR_EXPRESSION", "FAIL_REGULAR_EXPRESSION"):
        if key in properties:
            settings += [key, quoted(";".join(properties[key]))]
    print("set_tests_properties(%s PROPERTIES %s)" % (name, " ".join(settings)))
EOF
[ -s "$scratch/CTestTestfile.cmake" ] || { echo "FAIL: no Windows test to copy"; exit 1; }

# The prefix first, so that the probes' times are their own. A debugger
# waiting shows as a timeout, far beyond the bound.
WINEPREFIX=$build/wineprefix/crash-machinery WINEARCH=$(sed -n 's/.*WINEARCH=\(win[0-9]*\).*/\1/p' \
  "$scratch/CTestTestfile.cmake" | head -n 1) "$(dirname "$0")/../../tools/wine-run.sh" --prepare
(unset GTEST_OUTPUT; ctest --test-dir "$scratch" --timeout 120 --output-on-failure >"$scratch/ctest.log" 2>&1)
said=$(cat "$scratch/ctest.log")
for way in crash unfiltered exit0; do
  # CTest may end the regular expression it names with a line break.
  line=$(grep -A1 -E "Test +#[0-9]+: probe\\.$way " <<<"$said" | tr '\n' ' ')
  [[ "$line" == *"***Failed"* ]] || fail "probe.$way is not reported as failed: '$line'"
  seconds=$(sed -nE 's/.* ([0-9]+)\.[0-9]+ sec.*/\1/p' <<<"$line")
  [ -n "$seconds" ] && [ "$seconds" -lt 30 ] || fail "probe.$way took ${seconds:-?} s"
done
grep -qF "test program crashed in Probe.DereferencesNull: exception 0xc0000005" <<<"$said" ||
  fail "the crash does not say its test and exception"
grep -qE "wine: Unhandled page fault on write access to 0+ " <<<"$said" ||
  fail "the crash that takes Wine's way does not say Wine's line"
grep -qF "Required regular expression not found" <<<"$said" || fail "the exit 0 fails for another reason"
[ "$failed" -eq 0 ] || { echo "The probes' run:"; sed 's/^/  /' <<<"$said"; exit 1; }
echo "crash machinery: all cases passed"
