#!/usr/bin/env bash
# The window on the sample installation: the sample databases and data files in out/gui, and
# the program copied beside the data files, whose folder it reads them from.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/out/gui"

"$root/tools/sample-install.sh" "$build" "$work"
cp "$root/$build/kestrix" "$work/app/kestrix"

echo "Source database (База - источник данных):      $work/source.fdb"
echo "Destination database (База - приемник данных): $work/dest.fdb"
exec "$work/app/kestrix"
