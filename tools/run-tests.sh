#!/usr/bin/env bash
# Every test: installs what is missing, builds both trees, runs the native unit
# tests under sanitizers, every Windows test under Wine, and a bounded fuzz run.
set -uo pipefail
cd "$(dirname "$0")/.."
./tools/bootstrap.sh || exit 1
./tools/build.sh all || { echo "build failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
status=0
summary=()
run_suite() {
  local name=$1 dir=$2
  local log=build/$name-ctest.log
  echo "== $name tests"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900 2>&1 | tee "$log"
  local passed failed
  passed=$(grep -cE 'Test +#[0-9]+: .* Passed' "$log" || true)
  failed=$(grep -cE 'Test +#[0-9]+: .* (\*\*\*|Failed|Not Run|Timeout|Exception)' "$log" || true)
  summary+=("$name: $passed passed, $failed failed")
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ] || status=1
}
run_suite native build/native
run_suite win32 build/win32

if [ -x tools/run-fuzz.sh ]; then
  echo "== fuzz"
  if ./tools/run-fuzz.sh; then summary+=("fuzz: 1 passed, 0 failed"); else summary+=("fuzz: 0 passed, 1 failed"); status=1; fi
fi

echo
printf '%s\n' "${summary[@]}"
total_passed=0; total_failed=0
for line in "${summary[@]}"; do
  p=$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line"); f=$(sed -E 's/.*, ([0-9]+) failed.*/\1/' <<<"$line")
  total_passed=$((total_passed + p)); total_failed=$((total_failed + f))
done
echo "$total_passed passed, $total_failed failed"
exit $status
