#!/usr/bin/env bash
# A bounded fuzz run of the built-ins: configures build/fuzz with clang,
# builds the libFuzzer target and runs it for 30 seconds (or the seconds given
# as the first argument). New inputs collect in build/fuzz/corpus; a finding
# is written to build/fuzz/findings/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCELLUMBRA_FUZZ=ON >/dev/null
cmake --build "$build" --target builtins_fuzz -j2

mkdir -p "$build/corpus" "$build/findings"
# The fuzzer's running commentary goes to a log; a finding prints it whole.
log=$build/fuzz.log
if "$build/fuzz/builtins_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 "$build/corpus" fuzz/corpus >"$log" 2>&1; then
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))' "$log"
else
  cat "$log"
  exit 1
fi
