#!/usr/bin/env bash
# The main job: build the library and drive it through its exports as an indicator does.
# The fake broker and the indicator simulator arrive with later work; until then the demo loads
# the native library with the export host and shows what an indicator sees before configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target export-host morva_orderbook >/dev/null
build/linux/bin/export-host build/linux/bin/libmorva_orderbook.so --exports \
    OrderBook EURUSD 0 CheckPremium EURUSD
echo
echo "The fake broker and the indicator simulator (books drawn as histograms) come with later work."
