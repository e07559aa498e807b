#!/usr/bin/env bash
# The window on the sample installation: the sample databases and data files in out/gui, and
# the program copied beside the data files, whose folder it reads them from.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/out/gui"

rm -rf "$work"
mkdir -p "$work"
cp -r "$root/samples/app" "$work/app"
cp "$root/$build/kestrix" "$work/app/kestrix"
"$root/$build/kestrix-sample" source "$work/source.fdb"
"$root/$build/kestrix-sample" dest "$work/dest.fdb"

echo "Source database (База - источник данных):      $work/source.fdb"
echo "Destination database (База - приемник данных): $work/dest.fdb"
exec "$work/app/kestrix"
