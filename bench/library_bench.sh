#!/usr/bin/env bash
# library_bench.sh [BUILD_DIR]: the library through its exports against the fake broker on loopback:
# first OrderBook call to reference (polling every millisecond) against the transport's raw round
# trip (target at most 2 times), with the broker answering books after 20 ms, and export call
# latency while downloads run (target p99.9 at most 1 ms). Runs itself inside scripts/sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}

if [ "${MORVA_SANDBOX:-0}" != 1 ]; then
    exec "$root/scripts/sandbox" "$0" "$build"
fi

client_id=$(sed -n 's/.*kProductionClientId\[\] = "\([^"]*\)".*/\1/p' \
    "$build/generated/config/deployment_settings.h")
token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" \
    http://127.0.0.1:8099/tokens/refresh | sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
# Books answered after a realistic round trip; on bare loopback (under a millisecond) the 1 ms
# polling interval alone would set the ratio.
curl -fsS -X PUT --data @"$root/bench/library_scenario.json" http://127.0.0.1:8099/scenario >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"; curl -fsS -X PUT --data "{}" http://127.0.0.1:8099/scenario >/dev/null || true' EXIT
mkdir -p "$work/MQL5/Libraries"
cp "$build/bin/libmorva_orderbook.so" "$work/MQL5/Libraries/"
XDG_DATA_HOME="$work/data" MORVA_BENCH_REFRESH_TOKEN=$token \
    "$build/bin/morva_library_bench" "$work/MQL5/Libraries/libmorva_orderbook.so" |
    grep -v '^[0-9]\{4\}-'  # the library's own console log lines
