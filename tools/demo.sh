#!/usr/bin/env bash
# A real transfer on the sample installation: an older-version source with data, an empty
# newer-version destination, the sample data files, events from the sample start date.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/out/demo"

"$root/tools/sample-install.sh" "$build" "$work"

echo "Transferring $work/source.fdb -> $work/dest.fdb (events from 2026-01-01)"
# The program prints the summary, and the place of the run log last.
exec "$root/$build/kestrix-cli" --source "$work/source.fdb" --dest "$work/dest.fdb" \
    --events-from 2026-01-01 --app-dir "$work/app"
