#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, one after
# the other:  scripts/run_fuzz.sh BUILD SECONDS [NAME...]
# (FUZZ_RUNS=N in the environment also ends each target after N inputs.)
#
# Each target starts from its seeds (tests/fuzz/corpus/NAME) and the inputs
# of past findings (tests/fuzz/regressions/NAME), and keeps what it learns
# in BUILD/corpus/NAME for the next run. A crash, leak, timeout or memory
# blow-up leaves its input in BUILD/crashes/NAME/; the whole output of a run
# is in BUILD/logs/NAME.log. Prints one line per target and a summary.
set -uo pipefail
build=$1
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for binary in "$build"/tests/fuzz/fuzz_*; do targets+=("${binary##*/fuzz_}"); done
fi

# Sanitizer reports stop the run at once; libFuzzer keeps the input.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:allocator_may_return_null=1:symbolize=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

passed=0
failed=0
for name in "${targets[@]}"; do
  binary="$build/tests/fuzz/fuzz_$name"
  corpus="$build/corpus/$name"
  crashes="$build/crashes/$name"
  log="$build/logs/$name.log"
  mkdir -p "$corpus" "$crashes" "$build/logs"
  inputs=("$corpus" "tests/fuzz/corpus/$name")
  [ -d "tests/fuzz/regressions/$name" ] && inputs+=("tests/fuzz/regressions/$name")
  options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$crashes/")
  [ -f "tests/fuzz/dict/$name.dict" ] && options+=(-dict="tests/fuzz/dict/$name.dict")
  [ -n "${FUZZ_RUNS:-}" ] && options+=(-runs="$FUZZ_RUNS")
  # Slow inputs are noted by libFuzzer (slow-unit-*) but are no crash.
  before=$(ls "$crashes" | grep -vc '^slow-unit-')
  if [ -x "$binary" ]; then
    "$binary" "${options[@]}" "${inputs[@]}" >"$log" 2>&1
    status=$?
  else
    echo "no binary $binary" >"$log"
    status=1
  fi
  crashCount=$(( $(ls "$crashes" | grep -vc '^slow-unit-') - before ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -z "$runs" ] && runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  echo "fuzz: $name: ${runs:-0} runs, $crashCount crashes"
  if [ "$status" -eq 0 ] && [ "$crashCount" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    grep -m 3 -E 'ERROR|SUMMARY|invariant|runtime error' "$log" | sed 's/^/  /'
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
