#!/usr/bin/env bash
# Runs every benchmark and prints one table: figure, target, measured, verdict.
#   scripts/bench.sh [--markdown]
# The figures come from build/linux (built here): the Google Benchmarks of the export frame, book
# parsing and the caches (morva_bench), the transport against curl and the library through its
# exports (both inside scripts/sandbox against the fake broker), and the load run's export latency
# and memory (bench/load_bench.cpp in the load test's scenario). --markdown prints the table as
# docs/performance.md records it. Run it on a quiet machine: other work on the cores shows in every
# figure. Exits non-zero when a figure misses its target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
markdown=0
[ "${1:-}" = --markdown ] && markdown=1

scripts/install-deps
build=build/linux
{ cmake --preset linux && cmake --build --preset linux -j "$(nproc)" --target morva_bench \
    morva_transport_bench morva_library_bench morva_load_bench morva_orderbook fake-broker; } \
    >build/bench.log 2>&1 || { tail -n 30 build/bench.log >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "running morva_bench" >&2
"$build/bin/morva_bench" --benchmark_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true >"$out/micro.json" 2>/dev/null
echo "running bench/transport_bench.sh" >&2
bench/transport_bench.sh "$build" >"$out/transport.txt"
echo "running bench/library_bench.sh" >&2
bench/library_bench.sh "$build" >"$out/library.txt"
echo "running the load run (${MORVA_LOAD_SECONDS:-300} s)" >&2
client_id=$(sed -n 's/^MORVA_PRODUCTION_CLIENT_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
scripts/sandbox env MORVA_LOAD_SECONDS="${MORVA_LOAD_SECONDS:-300}" bash tests/e2e/run_load_e2e.sh \
    "$build/bin/morva_load_bench" "$build/bin/libmorva_orderbook.so" "$client_id" |
    grep '^load:' >"$out/load.txt"

python3 - "$out" "$markdown" <<'PY'
import json, re, sys
out, markdown = sys.argv[1], sys.argv[2] == "1"
micro = {b["name"].removesuffix("_median"): b for b in json.load(open(f"{out}/micro.json"))["benchmarks"]
         if b.get("aggregate_name") == "median"}
text = {k: open(f"{out}/{k}.txt").read() for k in ("transport", "library", "load")}

def grab(source, pattern):
    m = re.search(pattern, text[source])
    if not m:
        sys.exit(f"bench.sh: no figure matching {pattern!r} in the {source} output:\n{text[source]}")
    return [float(g) for g in m.groups()]

rows = []  # figure, target text, measured text, ok
def row(figure, target, measured, ok):
    rows.append((figure, target, measured, ok))

ns = lambda name: micro[name]["cpu_time"]  # every micro benchmark reports ns
row("Export frame, empty body (ExecuteDll)", "<= 150 ns", f"{ns('BM_ExecuteDllEmptyBody'):.0f} ns",
    ns("BM_ExecuteDllEmptyBody") <= 150)
ratio = micro["BM_ParseBook"]["bytes_per_second"] / micro["BM_JsonParseOnly"]["bytes_per_second"]
row("ParseBook throughput / bare JSON parse, 2,000 buckets", ">= 0.6", f"{ratio:.2f}", ratio >= 0.6)
footprint = micro["BM_CachedBookFootprint"]["book_bytes"]
row("Memory of one cached 2,000-bucket book", "<= 65,536 B", f"{footprint:,.0f} B", footprint <= 65536)
row("GetBookRef, cached key", "<= 300 ns", f"{ns('BM_GetBookRefCached'):.0f} ns",
    ns("BM_GetBookRefCached") <= 300)
row("GetBookData, 2,000 buckets", "<= 3 us", f"{ns('BM_GetBookData2000') / 1000:.2f} us",
    ns("BM_GetBookData2000") <= 3000)
ours, curl = grab("transport", r"CurlHttpClient\s+([\d.]+)"), grab("transport", r"curl \(1 process\)\s+([\d.]+)")
row("Transport per request / one curl process (200 fetches)", "<= 1.25",
    f"{ours[0] / curl[0]:.2f} ({ours[0]:.0f} / {curl[0]:.0f} us)", ours[0] / curl[0] <= 1.25)
raw, ref = grab("library", r"raw round trip \(median\)\s+([\d.]+)"), grab("library", r"first call to reference \(median\)\s+([\d.]+)")
row("First OrderBook call to reference / raw round trip (books answered in 20 ms)", "<= 2",
    f"{ref[0] / raw[0]:.2f} ({ref[0]:,.0f} / {raw[0]:,.0f} us; {ref[0] - raw[0]:,.0f} us of it the library's and the polling's)",
    ref[0] / raw[0] <= 2)
p50, p999, top = grab("library", r"OrderBook call p50 / p99\.9 / max\s+([\d.]+) / ([\d.]+) / ([\d.]+)")
row("OrderBook call while downloads run, p99.9", "<= 1,000 us",
    f"{p999:.0f} us (p50 {p50:.0f}, max {top:.0f})", p999 <= 1000)
lp50, lp99, lp999, lmax = grab("load", r"export latency\s+p50=([\d.]+)us p99=([\d.]+)us p99\.9=([\d.]+)us max=([\d.]+)us")
secs, = grab("load", r"load: (\d+) s,")
row(f"Load run ({secs:.0f} s, 50 instruments, 8 threads): export p99.9", "<= 1,000 us",
    f"{lp999:.0f} us (p50 {lp50:.0f}, p99 {lp99:.0f}, max {lmax:,.0f})", lp999 <= 1000)
slowest = max(((m.group(1), float(m.group(2))) for m in re.finditer(
    r"load: (\S+)\s+p50=[\d.]+us p99=[\d.]+us p99\.9=([\d.]+)us", text["load"])
    if m.group(1) != "export"), key=lambda e: e[1])
row("Load run: slowest export's p99.9", "<= 1,000 us", f"{slowest[1]:.0f} us ({slowest[0]})",
    slowest[1] <= 1000)
warm, end, peak = grab("load", r"memory at warm-up (\d+) kB, at end (\d+) kB, peak (\d+) kB")
row("Load run: resident memory after warm-up / at the end (peak)", "flat",
    f"{warm / 1024:.0f} / {end / 1024:.0f} MiB (peak {peak / 1024:.0f})", end <= warm * 1.25)

if markdown:
    print("| figure | target | measured | |")
    print("|---|---|---|---|")
    for f, t, m, ok in rows:
        print(f"| {f} | {t} | {m} | {'ok' if ok else '**missed**'} |")
else:
    w = max(len(r[0]) for r in rows)
    print(f"{'figure':<{w}}  {'target':<12}  measured")
    for f, t, m, ok in rows:
        print(f"{f:<{w}}  {t:<12}  {m}{'' if ok else '   MISSED'}")
sys.exit(0 if all(r[3] for r in rows) else 1)
PY
