#!/usr/bin/env bash
# run_load_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's load scenario (random latency, occasional failures),
# seeds a refresh token, installs a copy of LIBRARY in a terminal-like data folder and runs the load
# PROGRAM against it (through RUNNER, Wine, for the Windows builds) for MORVA_LOAD_SECONDS (45 here
# unless set; the program's own default is 300). Then checks the log holds no token.
set -euo pipefail
program=$1
library=$2
client_id=$3
shift 3
runner=("$@")
here=$(cd "$(dirname "$0")" && pwd)
control=http://127.0.0.1:8099

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "${MORVA_SANDBOX:-}" = 1 ] || fail "run inside scripts/sandbox"

work=$(mktemp -d)
restore() {
    curl -fsS -X PUT --data '{}' "$control/scenario" >/dev/null || true
    rm -rf "$work"
}
trap restore EXIT

curl -fsS -X PUT --data @"$here/load_e2e_scenario.json" "$control/scenario" >/dev/null ||
    fail "the broker refused the scenario"
token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
    sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
[ -n "$token" ] || fail "no refresh token from the broker"

libraries="$work/MQL5/Libraries"
mkdir -p "$libraries"
cp "$library" "$libraries/"
name=$(basename "$library")
export MORVA_E2E_REFRESH_TOKEN=$token
export MORVA_LOAD_SECONDS=${MORVA_LOAD_SECONDS:-45}
export XDG_DATA_HOME="$work/data"
unset DISPLAY WAYLAND_DISPLAY

if [ ${#runner[@]} -gt 0 ]; then
    MORVA_E2E_LIBRARY="Z:${libraries//\//\\}\\$name" "${runner[@]}" "$program" --gtest_brief=1
else
    MORVA_E2E_LIBRARY="$libraries/$name" ${MORVA_E2E_DEBUGGER:-} "$program" --gtest_brief=1
fi

logs=("$work"/MQL5/Logs/MORVA_Orderbook*.log)
[ -f "${logs[0]}" ] || fail "no log file"
! grep -qa -- "$token" "${logs[@]}" || fail "the refresh token reached the log"
! grep -qa 'eyJ' "${logs[@]}" || fail "an access token reached the log"
echo "load end to end: ok"
