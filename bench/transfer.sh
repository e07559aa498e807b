#!/usr/bin/env bash
# The transfer against its yardstick (bench/yardstick.cpp) on the sample installation, in one
# run: embedded and through a private Firebird server on 127.0.0.1, each program three times (ROUNDS),
# alternating, every run on a fresh copy of the destination. Prints per table the rows, seconds
# and rows/s of both (medians) and their ratio, peak memory, the time per row of INPUTS at two
# sizes, the time of a read-back (--verify) over the copy's, and last the line "ratio embedded
# X.XX server Y.YY parallel-embedded Z.ZZ parallel-server W.WW gbak-line V.VV parallel-gbak-line
# U.UU" (transfer time over one-stream yardstick time, summed over the tables both copy; the
# parallel ones with the journals over two streams, --jobs 2, whose time is the wall time of the
# journal block; the gbak-line ones: the whole embedded run's wall time, one stream and --jobs 2,
# over that of the engine's own move of the same source, "gbak -b | gbak -c", timed in the same
# rounds).
# With SCALE=1 in the environment, also the scale row: the whole embedded run at three times
# SIZE (ROUNDS runs), its time per row written and peak memory over those at SIZE.
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
# seconds, then "journal-block rows seconds": the journals' wall time) and ".peak" (the whole
# run's wall seconds, then its peak memory in KiB).
run_one() {
    local program=$1 route=$2 source=$3 tag=$4 extra=${5:-}
    local dest="$work/dest-$tag.fdb" out="$work/$program-$route-$tag" jobs=1
    [ "${program%-j2}" != "$program" ] && jobs=2
    cp "$work/dest-empty.fdb" "$dest"
    local src_name=$source dst_name=$dest
    if [ "$route" = server ]; then src_name="127.0.0.1/$port:$source"; dst_name="127.0.0.1/$port:$dest"; fi
    if [ "${program%-j2}" = kestrix ]; then
        /usr/bin/time -f '%e %M' -o "$out.peak" "$bin/kestrix-cli" --source "$src_name" --dest "$dst_name" \
            --events-from "$events_from" --app-dir "$work/app" --summary-json "$out.json" --jobs "$jobs" $extra \
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
        /usr/bin/time -f '%e %M' -o "$out.peak" "$bin/yardstick" --source "$src_name" --dest "$dst_name" \
            --events-from "$events_from" --app-dir "$work/app" --jobs "$jobs" >"$out.tables" 2>"$out.err" ||
            { cat "$out.err" >&2; exit 1; }
    fi
    rm -f "$dest"
}

# The engine's own move of the whole source, embedded: a backup piped into a restore. Writes
# "$work/gbak-<round>.seconds" (wall seconds).
# The private server's administrator gets a password of its own, which the programs and gbak
# read from the environment, as on a customer's server.
export KESTRIX_SERVER_PASSWORD="bench$RANDOM$RANDOM"
export ISC_USER=SYSDBA ISC_PASSWORD="$KESTRIX_SERVER_PASSWORD"
run_gbak() {
    local new="$work/gbak-$1.fdb" start end
    rm -f "$new"
    start=$(date +%s.%N)
    gbak -b "$work/source.fdb" stdout | gbak -c stdin "$new"
    end=$(date +%s.%N)
    python3 -c "print(round($end - $start, 3))" >"$work/gbak-$1.seconds"
    rm -f "$new"
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
        [ "$route" = embedded ] && run_gbak "$round"
    done
    # One more run that reads its copies back: the read-back's time against the copy's.
    echo "bench: $route read-back" >&2
    run_one kestrix "$route" "$work/source.fdb" verify --verify
done
echo "bench: INPUTS at size $small_size" >&2
for round in $(seq "$rounds"); do run_one kestrix embedded "$work/source-small.fdb" "small$round"; done

scale=${SCALE:-0}
if [ "$scale" = 1 ]; then
    echo "bench: scale, size $((size * 3))" >&2
    "$bin/kestrix-sample" source "$work/source-large.fdb" --size "$((size * 3))" >/dev/null
    for round in $(seq "$rounds"); do run_one kestrix embedded "$work/source-large.fdb" "large$round"; done
    rm -f "$work/source-large.fdb"
fi

# Medians per table and program, then the table and the ratio line.
python3 - "$work" "$rounds" "$size" "$small_size" "$scale" <<'PY'
import glob, os, statistics, sys
work, rounds, size, small, scale = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5] == "1"

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

def wall(program, tag):
    return float(open(f"{work}/{program}-embedded-{tag}.peak").read().split()[-2])

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
import json
verify = {}
for route in ("embedded", "server"):
    tables = [t for t in json.load(open(f"{work}/kestrix-{route}-verify.json"))["tables"] if "verified" in t]
    copy = sum(t["seconds"] for t in tables)
    verify[route] = sum(t["verify_seconds"] for t in tables) / copy if copy > 0 else float("nan")
print(f"\nread-back over copy time (--verify, one run): embedded {verify['embedded']:.2f} server {verify['server']:.2f}")
gbak = statistics.median(float(open(f"{work}/gbak-{t}.seconds").read()) for t in tags)
whole1 = statistics.median(wall("kestrix", t) for t in tags)
whole2 = statistics.median(wall("kestrix-j2", t) for t in tags)
if scale:
    def per_row(tag):
        rows = sum(int(line.split()[1]) for line in open(f"{work}/kestrix-embedded-{tag}.tables")
                   if line.split()[0] != BLOCK)
        return wall("kestrix", tag) / rows * 1e6
    base = statistics.median(per_row(t) for t in tags)
    large = statistics.median(per_row("large" + t) for t in tags)
    peak_large = peak("kestrix", "embedded", ["large" + t for t in tags])
    peak_base = peak("kestrix", "embedded", tags)
    print(f"\nscale: whole embedded run per row {base:.2f} us at size {size}, {large:.2f} us at size {int(size) * 3} "
          f"(growth {large / base:.2f}); peak memory {peak_base} MiB and {peak_large} MiB ({peak_large / peak_base:.2f})")
print(f"\nwhole embedded run against the engine's own move (gbak -b | gbak -c, {gbak:.2f} s): "
      f"one stream {whole1:.2f} s ({whole1 / gbak:.2f}), --jobs 2 {whole2:.2f} s ({whole2 / gbak:.2f})")
print(f"ratio embedded {ratios['embedded']:.2f} server {ratios['server']:.2f} "
      f"parallel-embedded {parallel['embedded']:.2f} parallel-server {parallel['server']:.2f} "
      f"gbak-line {whole1 / gbak:.2f} parallel-gbak-line {whole2 / gbak:.2f}")
PY
