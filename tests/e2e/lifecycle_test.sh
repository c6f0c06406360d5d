#!/usr/bin/env bash
# lifecycle_test.sh LABEL HOST LIBRARY [RUNNER...]
# Loads a copy of the library from a terminal-like data folder whose path holds non-ASCII
# characters, calls exports before InitDLL, unloads it, and checks what the indicator saw and what
# the log says. RUNNER (Wine, for the Windows builds) runs the host.
set -euo pipefail
label=$1
host=$2
library=$3
shift 3
runner=("$@")

fail() { echo "FAIL: $*" >&2; [ -n "${log:-}" ] && [ -f "$log" ] && cat -A "$log" | head -20 >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libraries="$work/Трейдер/MQL5/Libraries"
log="$work/Трейдер/MQL5/Logs/MORVA_Orderbook.log"
mkdir -p "$libraries"
cp "$library" "$libraries/"
name=$(basename "$library")

run_host() {
    if [ ${#runner[@]} -gt 0 ]; then
        # Wine's drive Z: is the host's root; a full path loads exactly that file, no search.
        local winpath="Z:${libraries//\//\\}\\$name"
        "${runner[@]}" "$host" "$winpath" "$@"
    else
        "$host" "$libraries/$name" "$@"
    fi
}

out=$(run_host OrderBook EURUSD 0 InitCreds CheckPremium EURUSD OrderBook_Sz 0 | tr -d '\r')
echo "$out"
grep -qx 'OrderBook(EURUSD, 0) = -1 error="Orderbook module not initialized"' <<<"$out" ||
    fail "OrderBook before InitDLL"
grep -qx 'InitCreds() error="Orderbook module not initialized"' <<<"$out" || fail "InitCreds before InitDLL"
grep -qx 'CheckPremium(EURUSD) = -1 error="Orderbook module not initialized"' <<<"$out" ||
    fail "CheckPremium before InitDLL"

[ -f "$log" ] || fail "no log file at $log"
[ "$(head -c 3 "$log" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "log does not start with a BOM"

body=$(sed '1s/^\xEF\xBB\xBF//' "$log")
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}'
grep -qaE "^$stamp INFO  \[[0-9]+\] \[LoadDll@[0-9]+\] Loaded $label \(v1\.16\.5\.0\) in [0-9]+\.[0-9]{6}s"$'\r'"\$" <<<"$body" ||
    fail "no Loaded line"
grep -qaE "^$stamp ERROR \[[0-9]+\] \[[^]]+@[0-9]+\] OrderBook\(EURUSD, 0\) failed: Orderbook module not initialized"$'\r'"\$" <<<"$body" ||
    fail "no failure line for OrderBook"
grep -qaE "^$stamp INFO  \[[0-9]+\] \[[^]]+@[0-9]+\] Unloaded $label \(v1\.16\.5\.0\) in [0-9]+\.[0-9]{6}s"$'\r'"\$" <<<"$body" ||
    fail "no Unloaded line"
! grep -qa 'Executing ' "$log" || fail "DEBUG lines reached the file"
# CRLF line ends on every line of every file: run_library_e2e.sh.

# A second load appends to the same file without a second byte order mark.
run_host InitCreds >/dev/null
[ "$(grep -c 'Loaded ' "$log")" = 2 ] || fail "second load not appended"
[ "$(grep -c $'\xef\xbb\xbf' "$log")" = 1 ] || fail "a second BOM was written"
echo "lifecycle: ok"
