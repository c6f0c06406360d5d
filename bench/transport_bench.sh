#!/usr/bin/env bash
# transport_bench.sh [BUILD_DIR] [COUNT]: fetches the same order book COUNT times (default 200)
# from the fake broker on loopback, once through our CurlHttpClient and once with one curl process
# over one kept-alive connection, and prints both per-request times and their ratio.
# Target: ours at most 1.25 times curl's. Runs itself inside scripts/sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
count=${2:-200}

if [ "${MORVA_SANDBOX:-0}" != 1 ]; then
    exec "$root/scripts/sandbox" --scenario "$root/bench/transport_scenario.json" "$0" "$build" "$count"
fi

host=api.morva.example
path=/v3/instruments/EUR_USD/orderBook

# Both sides start cold: their first request pays for the TLS handshake.
ours=$("$build/bin/morva_transport_bench" "$host" "$path" "$count" "Accept=application/json")
ours_us=$(sed -n 's/.*per_request_us \([0-9.e+]*\).*/\1/p' <<<"$ours")

args=()
for _ in $(seq "$count"); do args+=(-o /dev/null "https://$host$path"); done
start=$(date +%s%N)
curl -sS --fail -H "Accept: application/json" "${args[@]}"
end=$(date +%s%N)
curl_us=$(awk -v ns=$((end - start)) -v n="$count" 'BEGIN { printf "%.1f", ns / 1000 / n }')

awk -v ours="$ours_us" -v theirs="$curl_us" -v n="$count" 'BEGIN {
    printf "transport: %d fetches of a %s book\n", n, "24 KB"
    printf "  CurlHttpClient  %8.1f us/request\n", ours
    printf "  curl (1 process) %7.1f us/request\n", theirs
    printf "  ratio           %8.2f (target <= 1.25)\n", ours / theirs
}'
