#!/usr/bin/env bash
# A bounded fuzz run of the libFuzzer targets: configures build/fuzz with
# clang, builds them and runs each for 30 seconds (or the seconds given as the
# first argument):
#   builtins_fuzz  every built-in slot on arbitrary bands
#   engine_fuzz    the start selector and the preview under arbitrary host behaviour
#   pictures_fuzz  the reference host's picture readers and writers on arbitrary files
#   cell_map_fuzz  the cells' runs and their copy for any size, bounds, area and pixel layout
# New inputs collect in build/fuzz/corpus/<target>, seeded from
# fuzz/corpus/<target>. Each target's commentary goes to build/fuzz/<target>.log;
# a finding is written to build/fuzz/findings/, its report is printed, and the
# script fails. Replay one with: build/fuzz/fuzz/<target> <file>
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz
targets=(builtins_fuzz engine_fuzz pictures_fuzz cell_map_fuzz)

source tools/configure.sh
configure "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCELLUMBRA_FUZZ=ON || exit 1
build_args=()
for t in "${targets[@]}"; do build_args+=(--target "$t"); done
cmake --build "$build" "${build_args[@]}" -j2 >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

mkdir -p "$build/findings"
status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  log=$build/$t.log
  seeds=()
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  # One seed, so that a fresh checkout (CI's) walks the same inputs every
  # time and fails only for a change of ours; a checkout that has run before
  # explores on from the corpus it gathered. FUZZ_SEED=0 draws a new seed.
  if "$build/fuzz/$t" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/findings/$t-" -print_final_stats=1 "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
    echo "$t: $runs inputs, $rate per second, $added new in the corpus, no finding"
  else
    # The report of a finding stands at the end of the commentary.
    echo "$t: FINDING (full log in $log)"
    grep -v -E '^(#[0-9]+|INFO:|[[:space:]]+NEW_FUNC)' "$log" | tail -n 60
    status=1
  fi
done
exit $status
