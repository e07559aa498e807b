#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR for SECONDS each, one after the other, at the lowest
# priority. New inputs go to BUILD_DIR/corpus/NAME, crashes to BUILD_DIR/findings/NAME/,
# the output to BUILD_DIR/logs/NAME.log. A finding belongs in tests/fuzz/corpus/NAME
# once its bug is fixed.
set -uo pipefail
build=${1:?usage: run.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
seeds="$(dirname "$0")/corpus"
failed=0
for target in "$build"/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=${target##*/fuzz_}
  mkdir -p "$build/corpus/$name" "$build/findings/$name" "$build/logs"
  log="$build/logs/$name.log"
  nice -n 19 "$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name/" "$build/corpus/$name" "$seeds/$name" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  findings=$(find "$build/findings/$name" -type f | wc -l)
  echo "$name: exit $status, ${runs:-?} runs, ${cov:-no coverage line}, $findings findings (log $log)"
  [ "$status" -eq 0 ] && [ "$findings" -eq 0 ] || failed=1
done
exit $failed
