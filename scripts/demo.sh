#!/usr/bin/env bash
# The main job: builds the library and shows it at work the way a trader's terminal meets it.
#
#   scripts/demo.sh [--seeded-token] [--windows [--mt5|--mt4]] [--instruments LIST] [--svg FILE]
#                   [-- SIM_ARGS...]
#
# Installs what is missing, builds the native library, the indicator simulator and the fake broker,
# starts the broker in the sandbox (scripts/sandbox: no network, every broker host name is this
# machine) with scripts/demo/scenario.json, signs in and lets the simulator drive the library
# through its fifteen exports until it draws the books.
#
#   --seeded-token      skip the sign-in window: the broker issues a refresh token and it is put in
#                       the credential store, as if the user had signed in before. Without it the
#                       library opens its sign-in window on a private X display (Xvfb) and the
#                       broker signs the user in at once, so the real browser path runs.
#   --windows           afterwards, the same against the Windows libraries under Wine: first
#                       MORVA_Orderbook64.dll (MetaTrader 5) under 64-bit Wine, then
#                       MORVA_Orderbook32.dll (MetaTrader 4) under 32-bit Wine (there the token is
#                       always seeded: Wine has no WebView2 runtime)
#   --mt5, --mt4        with --windows: only the 64-bit or only the 32-bit library
#   --instruments LIST  comma-separated, default EUR_USD,GBP_USD,XAU_USD
#   --svg FILE          also write the books as an SVG image (the native run's)
#   -- SIM_ARGS         passed on to the simulator (tools/indicator-sim/README.md)
#
# Everything the demo starts (broker, X server, Wine) ends with it; it writes only under build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seeded=0
windows=0
bitness="64 32"
instruments=EUR_USD,GBP_USD,XAU_USD
svg=
sim_args=()
while [ $# -gt 0 ]; do
    case $1 in
        --seeded-token) seeded=1; shift ;;
        --windows) windows=1; shift ;;
        --mt5) bitness=64; shift ;;
        --mt4) bitness=32; shift ;;
        --instruments) instruments=${2:?--instruments needs a list}; shift 2 ;;
        --svg) svg=$(realpath -m "${2:?--svg needs a file}"); shift 2 ;;
        --) shift; sim_args=("$@"); break ;;
        -h|--help) sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
        *) echo "demo: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
done

mkdir -p build/demo
log=build/demo/build.log
: >"$log"
step() { echo "=== $*"; }
build() {  # build PRESET TARGET...
    local preset=$1
    shift
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)" --target "$@"; } \
        >>"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "demo: building $preset failed (all of it in $log)" >&2
        exit 1
    fi
}

step "installing missing packages"
scripts/install-deps
step "building the native library, the simulator and the fake broker"
build linux morva_orderbook indicator-sim credential-seed fake-broker
if [ "$windows" -eq 1 ]; then
    for bits in $bitness; do
        step "building MORVA_Orderbook$bits.dll and the simulator for $bits-bit Windows"
        build "win$bits" morva_orderbook indicator-sim credential-seed
    done
fi

# The options, read once here, reach inside.sh through its environment.
export DEMO_SEEDED=$seeded DEMO_WINDOWS=$windows DEMO_BITNESS=$bitness DEMO_INSTRUMENTS=$instruments \
    DEMO_SVG=$svg
# A wineserver left running outside on the demo's prefix would not share its registry with the one
# the sandbox starts.
for prefix in build/demo/wineprefix64 build/demo/wineprefix32; do
    [ -d "$prefix" ] && { WINEPREFIX=$root/$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; }
done
step "starting the fake broker in the sandbox (its log: build/demo/broker.log)"
exec scripts/sandbox --scenario scripts/demo/scenario.json --broker-log build/demo/broker.log \
    --timeout 900 -- scripts/demo/inside.sh "${sim_args[@]}"
