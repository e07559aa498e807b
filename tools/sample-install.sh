#!/usr/bin/env bash
# The sample installation in a fresh folder: the sample data files in WORK/app, an
# older-version source with data (WORK/source.fdb) and an empty newer-version destination
# (WORK/dest.fdb).
#   tools/sample-install.sh BUILD WORK
set -euo pipefail
build=$1
work=$2
root=$(cd "$(dirname "$0")/.." && pwd)

rm -rf "$work"
mkdir -p "$work"
cp -r "$root/samples/app" "$work/app"
"$root/$build/kestrix-sample" source "$work/source.fdb"
"$root/$build/kestrix-sample" dest "$work/dest.fdb"
