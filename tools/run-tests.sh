#!/usr/bin/env bash
# Every test: installs what is missing, builds every tree, runs the unit tests
# natively under sanitizers (and the threaded ones under ThreadSanitizer), the
# GEGL operation through the real GEGL, the GIMP 2.10 plug-in through the
# real GIMP, the GIMP 3 plug-in and the operation through GIMP 3 in a
# Debian 13 system, every Windows test (unit and end-to-end) of the 32-bit build
# under 32-bit Wine and of the 64-bit build under 64-bit Wine, packs both
# plug-ins and the Linux programs, writes the browser page and drives it in
# Chromium, and runs a bounded fuzz. Ends with a line per suite ("win64: N passed, N failed") and
# the total "N passed, N failed", counting test cases.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./tools/bootstrap.sh || exit 1
./tools/build.sh all || { echo "build failed"; echo "0 passed, 1 failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
status=0
summary=()

echo "== layers"
if ./tools/check-layers.sh; then summary+=("layers: 1 passed, 0 failed"); else summary+=("layers: 0 passed, 1 failed"); status=1; fi

# Each test program writes its cases to an XML report; CTest says whether
# each program as a whole passed (a crash leaves no report but fails there).
# A GoogleTest program that CTest passed must have left its report, with
# cases in it: one that ended with exit 0 and nothing run, or without its
# report, counts as failed.
count_cases() { # the reports' folder, the build tree, CTest's log
  python3 - "$@" <<'EOF'
import glob, json, os, re, subprocess, sys, xml.etree.ElementTree as ET
reports, tree, log = sys.argv[1:4]
passed = failed = 0
cases = {}
for path in glob.glob(reports + "/*.xml"):
    program = os.path.basename(path)[:-len(".xml")]
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        failed += 1
        cases[program] = -1
        continue
    cases[program] = 0
    for case in root.iter("testcase"):
        if case.get("result", "completed") == "skipped" or case.get("status") == "notrun":
            continue
        cases[program] += 1
        if case.find("failure") is not None:
            failed += 1
        else:
            passed += 1
said = open(log, errors="replace").read()
listed = subprocess.run(["ctest", "--test-dir", tree, "--show-only=json-v1"], capture_output=True, text=True)
for test in json.loads(listed.stdout or "{}").get("tests", []):
    command = test.get("command", [])
    first = next((i for i, c in enumerate(command) if c.startswith("--gtest")), 0)
    if first == 0 or not re.search(r"Test +#\d+: " + re.escape(test["name"]) + r"[ .]*Passed", said):
        continue
    program = os.path.basename(command[first - 1])
    program = program[:-len(".exe")] if program.endswith(".exe") else program
    if cases.get(program, 0) == 0:
        print("run-tests: %s passed in CTest but left no report of the cases it ran" % test["name"], file=sys.stderr)
        failed += 1
print(passed, failed)
EOF
}

run_suite() {
  local name=$1 dir=$2; shift 2 # then what selects the tree's tests, if not all
  local reports=$root/build/test-reports/$name
  rm -rf "$reports" && mkdir -p "$reports"
  echo "== $name tests"
  local target="$reports/"
  # Programs under Wine see this machine's root as drive Z:.
  [[ "$dir" == */win* ]] && target="Z:${reports//\//\\}\\"
  GTEST_OUTPUT="xml:$target" ctest --test-dir "$dir" "$@" -j "$jobs" --output-on-failure --timeout 900 \
    2>&1 | tee "build/$name-ctest.log"
  local ctest_failed
  # The test's name may run straight into "***Failed" when the dots fill the column.
  ctest_failed=$(grep -cE 'Test +#[0-9]+: .*(\*\*\*|Failed|Not Run|Timeout|Exception)' "build/$name-ctest.log")
  read -r passed failed < <(count_cases "$reports" "$dir" "build/$name-ctest.log")
  # A program that crashed or hung leaves no failed case behind: count it.
  [ "$failed" -ge "$ctest_failed" ] || failed=$ctest_failed
  summary+=("$name: $passed passed, $failed failed")
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ] || status=1
}
# A script's count is taken only when it agrees with its exit status.
suite_line() { # name, exit status, the script's last line
  local name=$1 rc=$2 last=$3 agrees=0
  if [ "$rc" -eq 0 ]; then
    [[ "$last" == *" 0 failed" ]] && agrees=1
  else
    [[ "$last" != *" 0 failed" ]] && agrees=1
  fi
  if [ "$agrees" -eq 1 ] && [[ "$last" =~ ^[a-z0-9-]+:\ [0-9]+\ passed,\ [0-9]+\ failed$ ]]; then
    summary+=("$last")
  else
    summary+=("$name: 0 passed, 1 failed")
  fi
  [ "$rc" -eq 0 ] || status=1
}
run_suite native build/native -LE 'gegl|gimp'
run_suite tsan build/tsan
# The GEGL operation through the real GEGL (native tree).
run_suite gegl build/native -L gegl
# The GIMP 2.10 plug-in through the real GIMP, in batch and in its window (native tree).
run_suite gimp build/native -L gimp
# The GIMP 3 plug-in and the GEGL operation through the real GIMP 3, in a
# Debian 13 system that the suite makes once outside the checkout; it also
# builds the GIMP 3 plug-in that the Linux archive ships. Ends with
# "gimp3: N passed, N failed".
echo "== gimp3"
out=$(tests/gimp3/run.sh 2>&1)
rc=$?
echo "$out"
suite_line gimp3 "$rc" "$(tail -n 1 <<<"$out")"
run_suite win32 build/win32
run_suite win64 build/win64

echo "== package"
if ./tools/package.sh; then summary+=("package: 1 passed, 0 failed"); else summary+=("package: 0 passed, 1 failed"); status=1; fi
if ./tools/package-linux.sh; then summary+=("package-linux: 1 passed, 0 failed"); else summary+=("package-linux: 0 passed, 1 failed"); status=1; fi

# The browser page, written to dist/ and driven in Chromium; like the tool
# tests below, it ends with "web: N passed, N failed".
echo "== web"
out=$(tests/web/run.sh 2>&1)
rc=$?
echo "$out"
suite_line web "$rc" "$(tail -n 1 <<<"$out")"

# Tests of the command-line tools; each ends with "name: N passed, N failed".
echo "== tool tests"
for t in tests/tools/*_test.sh; do
  out=$("$t" 2>&1)
  rc=$?
  echo "$out"
  suite_line "$(basename "$t" .sh)" "$rc" "$(tail -n 1 <<<"$out")"
done

echo "== fuzz"
if ./tools/run-fuzz.sh; then summary+=("fuzz: 1 passed, 0 failed"); else summary+=("fuzz: 0 passed, 1 failed"); status=1; fi

echo
printf '%s\n' "${summary[@]}"
total_passed=0
total_failed=0
for line in "${summary[@]}"; do
  p=$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")
  f=$(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"$line")
  total_passed=$((total_passed + p))
  total_failed=$((total_failed + f))
done
echo "$total_passed passed, $total_failed failed"
exit $status
