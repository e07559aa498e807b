#!/usr/bin/env bash
# The transfer against its yardstick (bench/yardstick.cpp) on the sample installation, in one
# run: embedded and through a private Firebird server on 127.0.0.1, each program three times (ROUNDS),
# alternating, every run on a fresh copy of the destination. Prints per table the rows, seconds
# and rows/s of both (medians) and their ratio, peak memory, the time per row of INPUTS at two
# sizes, and last the line "ratio embedded X.XX server Y.YY parallel-embedded Z.ZZ
# parallel-server W.WW" (transfer time over one-stream yardstick time, summed over the tables
# both copy; the parallel ones with the journals over two streams, --jobs 2, whose time is the
# wall time of the journal block).
#   bench/transfer.sh BUILD SIZE [ROUNDS]      SIZE: a number of sample units, or "small"
set -euo pipefail
build=${1:-build}
size=${2:-1000}
rounds=${3:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
work="$root/out/bench"
bin="$root/$build"
[ "$size" = small ] && size=20
small_size=$((size / 5 > 0 ? size / 5 : 1))
events_from=2000-01-01

rm -rf "$work"
mkdir -p "$work"
cp -r "$root/samples/app" "$work/app"
# No post-transfer pauses in a measurement of the copy.
: > "$work/app/SQL/Upd.sql"
echo "bench: making the sample installation at size $size (and $small_size)" >&2
"$bin/kestrix-sample" source "$work/source.fdb" --size "$size" >/dev/null
"$bin/kestrix-sample" source "$work/source-small.fdb" --size "$small_size" >/dev/null
"$bin/kestrix-sample" dest "$work/dest-empty.fdb" >/dev/null

server_root=""
cleanup() { [ -n "$server_root" ] && bash "$root/tests/support/private_server.sh" stop "$server_root" || true; }
trap cleanup EXIT

# One run: program (kestrix|yardstick, with -j2: the journals over two streams), route
# (embedded|server), source, round; writes "$work/<program>-<route>-<round>.tables" (table rows
# seconds, then "journal-block rows seconds": the journals' wall time) and ".peak" (KiB).
run_one() {
    local program=$1 route=$2 source=$3 tag=$4
    local dest="$work/dest-$tag.fdb" out="$work/$program-$route-$tag" jobs=1
    [ "${program%-j2}" != "$program" ] && jobs=2
    cp "$work/dest-empty.fdb" "$dest"
    local src_name=$source dst_name=$dest
    if [ "$route" = server ]; then src_name="127.0.0.1/$port:$source"; dst_name="127.0.0.1/$port:$dest"; fi
    if [ "${program%-j2}" = kestrix ]; then
        /usr/bin/time -f '%M' -o "$out.peak" "$bin/kestrix-cli" --source "$src_name" --dest "$dst_name" \
            --events-from "$events_from" --app-dir "$work/app" --summary-json "$out.json" --jobs "$jobs" \
            >"$out.summary" 2>"$out.err" || { cat "$out.err" >&2; exit 1; }
        # The account in JSON (seconds to the millisecond); the first entry of each table is its
        # copy (a later one of the same table updates columns). The journals' wall time runs
        # from the first one's start to the last one's end.
        python3 -c '
import json, sys
seen, rows, start, end = set(), 0, None, None
journals = {"EVENTS", "ALARM", "ACR$EVENTS", "ACR$ALARMS", "STR_EVENTS", "STR_ALARMS"}
for t in json.load(open(sys.argv[1]))["tables"]:
    if t["name"] not in seen:
        seen.add(t["name"])
        print(t["name"], t["written"], t["seconds"])
        if t["name"] in journals:
            rows += t["written"]
            start = t["started"] if start is None else min(start, t["started"])
            end = max(end or 0, t["started"] + t["seconds"])
if start is not None:
    print("journal-block", rows, round(end - start, 3))
' "$out.json" >"$out.tables"
    else
        /usr/bin/time -f '%M' -o "$out.peak" "$bin/yardstick" --source "$src_name" --dest "$dst_name" \
            --events-from "$events_from" --app-dir "$work/app" --jobs "$jobs" >"$out.tables" 2>"$out.err" ||
            { cat "$out.err" >&2; exit 1; }
    fi
    rm -f "$dest"
}

routes="embedded server"
for route in $routes; do
    if [ "$route" = server ]; then
        server_root=$(mktemp -d)
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
        bash "$root/tests/support/private_server.sh" start "$server_root" "$port" >/dev/null
    fi
    for round in $(seq "$rounds"); do
        echo "bench: $route round $round" >&2
        if [ $((round % 2)) -eq 1 ]; then order="kestrix yardstick kestrix-j2 yardstick-j2"
        else order="yardstick-j2 kestrix-j2 yardstick kestrix"; fi
        for program in $order; do run_one "$program" "$route" "$work/source.fdb" "$round"; done
    done
done
echo "bench: INPUTS at size $small_size" >&2
for round in $(seq "$rounds"); do run_one kestrix embedded "$work/source-small.fdb" "small$round"; done

# Medians per table and program, then the table and the ratio line.
python3 - "$work" "$rounds" "$size" "$small_size" <<'PY'
import glob, os, statistics, sys
work, rounds, size, small = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]

BLOCK = "journal-block"
JOURNALS = {"EVENTS", "ALARM", "ACR$EVENTS", "ACR$ALARMS", "STR_EVENTS", "STR_ALARMS"}

def runs_of(program, route, tags):
    runs = []
    for tag in tags:
        rows = {}
        with open(f"{work}/{program}-{route}-{tag}.tables") as f:
            for line in f:
                name, n, secs = line.split()[:3]
                rows.setdefault(name, (int(n), float(secs)))
        runs.append(rows)
    return runs

def tables(program, route, tags):
    runs = runs_of(program, route, tags)
    names = [n for n in runs[0] if n != BLOCK]
    return names, {n: (runs[0][n][0], statistics.median(r[n][1] for r in runs if n in r)) for n in names}

def copy_time(program, route, tags, names):
    """Median over the rounds of the time of the tables `names`, the journals by their wall time."""
    totals = []
    for r in runs_of(program, route, tags):
        tables_time = sum(r[n][1] for n in names if n in r and n not in JOURNALS)
        journal_time = r[BLOCK][1] if BLOCK in r else sum(r[n][1] for n in names if n in r and n in JOURNALS)
        totals.append(tables_time + journal_time)
    return statistics.median(totals)

def peak(program, route, tags):
    return max(int(open(f"{work}/{program}-{route}-{t}.peak").read().split()[-1]) for t in tags) // 1024

tags = [str(r) for r in range(1, rounds + 1)]
ratios, parallel = {}, {}
for route in ("embedded", "server"):
    names, k = tables("kestrix", route, tags)
    _, y = tables("yardstick", route, tags)
    print(f"\n{route} (size {size}, medians of {rounds}):")
    print(f"{'table':<16}{'rows':>9}{'kestrix s':>11}{'rows/s':>10}{'yardst. s':>11}{'rows/s':>10}{'ratio':>8}")
    ks = ys = 0.0
    for n in names:
        if n not in y:
            continue
        rows, kt = k[n]
        yrows, yt = y[n]
        ks += kt
        ys += yt
        rate = lambda r, t: f"{r / t:10.0f}" if t > 0 else f"{'-':>10}"
        ratio = f"{kt / yt:8.2f}" if yt > 0 else f"{'-':>8}"
        print(f"{n:<16}{rows:>9}{kt:>11.2f}{rate(rows, kt)}{yt:>11.2f}{rate(yrows, yt)}{ratio}")
    ratios[route] = ks / ys if ys > 0 else float("nan")
    print(f"{'all copied':<16}{'':>9}{ks:>11.2f}{'':>10}{ys:>11.2f}{'':>10}{ratios[route]:8.2f}")
    common = [n for n in names if n in y]
    k1, y1 = copy_time("kestrix", route, tags, common), copy_time("yardstick", route, tags, common)
    k2, y2 = copy_time("kestrix-j2", route, tags, common), copy_time("yardstick-j2", route, tags, common)
    parallel[route] = k2 / ys if ys > 0 else float("nan")
    print(f"journals over two streams (--jobs 2), the journals by their wall time: kestrix {k2:.2f} s "
          f"(one stream {k1:.2f} s), yardstick {y2:.2f} s (one stream {y1:.2f} s); "
          f"yardstick gain {y1 / y2:.2f}, kestrix over the parallel yardstick {k2 / y2:.2f}")
    print(f"peak memory: kestrix {peak('kestrix', route, tags)} MiB, yardstick {peak('yardstick', route, tags)} MiB, "
          f"kestrix --jobs 2 {peak('kestrix-j2', route, tags)} MiB")

_, big = tables("kestrix", "embedded", tags)
_, little = tables("kestrix", "embedded", ["small" + t for t in tags])
if "INPUTS" in big and "INPUTS" in little and big["INPUTS"][0] and little["INPUTS"][0]:
    per_big = big["INPUTS"][1] / big["INPUTS"][0] * 1e6
    per_small = little["INPUTS"][1] / little["INPUTS"][0] * 1e6
    print(f"\nINPUTS time per row: {per_small:.1f} us at size {small} ({little['INPUTS'][0]} rows), "
          f"{per_big:.1f} us at size {size} ({big['INPUTS'][0]} rows), growth {per_big / per_small:.2f}")
print(f"ratio embedded {ratios['embedded']:.2f} server {ratios['server']:.2f} "
      f"parallel-embedded {parallel['embedded']:.2f} parallel-server {parallel['server']:.2f}")
PY
