#!/usr/bin/env bash
# Journal throughput: a sample source of the given size (1000 makes about a million journal
# rows), a transfer with events from the first sample day, rows per second of each journal
# table and the peak memory of the run.
#   bench/journals.sh [BUILD] [SIZE]
set -euo pipefail
build=${1:-build}
size=${2:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/out/bench"

rm -rf "$work"
mkdir -p "$work"
cp -r "$root/samples/app" "$work/app"
# No post-transfer pauses in a measurement of the copy.
: > "$work/app/SQL/Upd.sql"
"$root/$build/kestrix-sample" source "$work/source.fdb" --size "$size" >/dev/null
"$root/$build/kestrix-sample" dest "$work/dest.fdb" >/dev/null

/usr/bin/time -f '%e %M' -o "$work/time" \
    "$root/$build/kestrix-cli" --source "$work/source.fdb" --dest "$work/dest.fdb" \
    --events-from 2000-01-01 --app-dir "$work/app" >"$work/summary" 2>/dev/null
read -r seconds peakKb <"$work/time"

echo "size $size: whole run ${seconds} s, peak memory $((peakKb / 1024)) MiB"
awk '$1 ~ /^(EVENTS|ALARM|ACR\$EVENTS|ACR\$ALARMS|STR_EVENTS|STR_ALARMS)$/ {
        rate = $5 > 0 ? $3 / $5 : 0
        printf "%-12s %9d rows %8.2f s %10.0f rows/s\n", $1, $3, $5, rate
        rows += $3; secs += $5
     }
     END { if (secs > 0) printf "%-12s %9d rows %8.2f s %10.0f rows/s\n", "journals", rows, secs, rows / secs }' \
    "$work/summary"
