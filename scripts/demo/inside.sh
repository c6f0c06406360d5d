#!/usr/bin/env bash
# The demo's part inside scripts/sandbox (scripts/demo.sh starts it): installs the built library in
# a terminal-like data folder, signs in and runs the indicator simulator against it.
#   DEMO_SEEDED=0|1 DEMO_WINDOWS=0|1 DEMO_BITNESS="64 32" DEMO_INSTRUMENTS=LIST DEMO_SVG=FILE
#   inside.sh [SIM_ARGS...]
# (scripts/demo.sh sets them from its own options).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
control=http://127.0.0.1:8099
target=MORVA_Orderbook  # the production deployment's credential target

seeded=${DEMO_SEEDED:-0}
windows=${DEMO_WINDOWS:-0}
bitness=${DEMO_BITNESS:-64 32}
instruments=${DEMO_INSTRUMENTS:-EUR_USD}
svg=${DEMO_SVG:-}
sim_args=("$@")
[ "${MORVA_SANDBOX:-}" = 1 ] || { echo "demo: run inside scripts/sandbox" >&2; exit 2; }

# The terminal's data folders stay for a look at the library's log afterwards; the Linux
# credential store is the demo's own (the user's is never touched) and goes with it.
work=$root/build/demo/run
rm -rf "$work"
mkdir -p "$work"
export XDG_DATA_HOME=$work/credentials
trap 'rm -rf "$XDG_DATA_HOME"' EXIT

# The library also writes its log lines to standard output; the simulator's own lines are what a
# trader would see, so those lines are left to the log file.
colour=auto
[ -t 1 ] && colour=always
show() {  # show COMMAND...: runs the simulator without the library's log lines
    "$@" --color "$colour" | grep --line-buffered -Ev '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+ +(TRACE|DEBUG|INFO|WARN|ERROR|FATAL)'
    return "${PIPESTATUS[0]}"
}

client_id=$(sed -n 's/^MORVA_PRODUCTION_CLIENT_ID:[A-Z]*=//p' "$root/build/linux/CMakeCache.txt")
refresh_token() {  # a refresh token as a sign-in would have issued it
    curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
        sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p'
}
simulate=(--server MORVA-Live-3 --account 1000042 --language EN
          --instruments "$instruments" --timeout 180)

echo "=== the native library: $root/build/linux/bin/libmorva_orderbook.so"
native=$work/native/MQL5/Libraries
mkdir -p "$native"
cp "$root/build/linux/bin/libmorva_orderbook.so" "$native/"
native_args=("${simulate[@]}" --platform mt5)
[ -n "$svg" ] && native_args+=(--svg "$svg")
if [ "$seeded" -eq 1 ]; then
    refresh_token | "$root/build/linux/bin/credential-seed" "$target"
    show "$root/build/linux/bin/indicator-sim" --library "$native/libmorva_orderbook.so" \
        "${native_args[@]}" "${sim_args[@]}"
else
    # WebKit resolves host names only when an IPv4 address other than 127.0.0.1 exists; the
    # sandbox has loopback alone (see tests/auth/run_sign_in_tests.sh).
    ip -o addr show dev lo | grep -q ' 127\.0\.0\.2/' || ip addr add 127.0.0.2/32 dev lo
    echo "(the sign-in window opens on a private X display; the broker signs the user in at once)"
    show xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" \
        "$root/build/linux/bin/indicator-sim" --library "$native/libmorva_orderbook.so" \
        "${native_args[@]}" "${sim_args[@]}"
fi
echo "(the library's log: build/demo/run/native/MQL5/Logs/MORVA_Orderbook.log)"

# The Windows libraries as MetaTrader 5 (64-bit) and MetaTrader 4 (32-bit) load them, each under
# the Wine of its bitness in a prefix of its own.
windows_run() {  # windows_run BITS
    local bits=$1 loader platform mql
    if [ "$bits" = 64 ]; then
        loader=/usr/lib/wine/wine64 platform=mt5 mql=MQL5
    else
        loader=/usr/lib/wine/wine platform=mt4 mql=MQL4
    fi
    local dll=MORVA_Orderbook$bits.dll bin=$root/build/win$bits/bin
    echo
    echo "=== the Windows library under $bits-bit Wine: $bin/$dll"
    local prefix=$root/build/demo/wineprefix$bits
    [ -f "$prefix/system.reg" ] || echo "(preparing a Wine prefix for the demo: the first run takes a minute)"
    local wine=("$root/cmake/wine-run.sh" "$loader" "$prefix")
    local libraries=$work/windows/$mql/Libraries
    mkdir -p "$libraries"
    cp "$bin/$dll" "$libraries/"
    refresh_token | "${wine[@]}" "$bin/credential-seed.exe" "$target"
    local args=("${simulate[@]}" --platform "$platform")
    show "${wine[@]}" "$bin/indicator-sim.exe" --library "Z:${libraries//\//\\}\\$dll" \
        "${args[@]}" "${sim_args[@]}"
}

if [ "$windows" -eq 1 ]; then
    for bits in $bitness; do
        windows_run "$bits"
    done
fi
