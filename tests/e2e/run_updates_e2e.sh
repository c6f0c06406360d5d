#!/usr/bin/env bash
# run_updates_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: runs the update and premium cases of PROGRAM against a copy of LIBRARY
# (through RUNNER, Wine, for the Windows builds). First with a scenario that publishes a new
# version, then once for each published version that must never become a file name; then checks
# what the library logged.
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

libraries="$work/terminal/MQL5/Libraries"
logs="$work/terminal/MQL5/Logs"
mkdir -p "$libraries"
cp "$library" "$libraries/"
name=$(basename "$library")
export XDG_DATA_HOME="$work/data"  # the Linux credential store; Wine keeps its own

run() {  # run GTEST_FILTER
    if [ ${#runner[@]} -gt 0 ]; then
        MORVA_E2E_LIBRARY="Z:${libraries//\//\\}\\$name" MORVA_E2E_WORK="Z:${work//\//\\}" \
            "${runner[@]}" "$program" --gtest_brief=1 --gtest_filter="$1"
    else
        MORVA_E2E_LIBRARY="$libraries/$name" MORVA_E2E_WORK="$work" \
            "$program" --gtest_brief=1 --gtest_filter="$1"
    fi
}

curl -fsS -X PUT --data @"$here/updates_e2e_scenario.json" "$control/scenario" >/dev/null ||
    fail "the broker refused the scenario"
token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
    sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
[ -n "$token" ] || fail "no refresh token from the broker"
export MORVA_E2E_REFRESH_TOKEN=$token
run 'Updates.*'

# JSON texts of versions that would lead a file out of its folder.
for version in '1.0\\..\\..\\evil' '../x'; do
    curl -fsS -X PUT --data "{\"metadata\": {\"version\": \"$version\"}}" "$control/scenario" \
        >/dev/null || fail "the broker refused version $version"
    run 'RefusedVersion.*'
done

log_files=("$logs"/MORVA_Orderbook*.log)
[ -f "${log_files[0]}" ] || fail "no log file in $logs"
expect_log() {
    grep -qaF -- "$1" "${log_files[@]}" || fail "the log lacks: $1"
}
expect_log 'Failed to update indicator: Unknown Platform [MT5]'
expect_log 'Failed to update indicator: Failed to open ofstream: '
expect_log 'Failed to update indicator: Published version is not a release number [1.0\..\..\evil]'
expect_log 'Failed to update indicator: Published version is not a release number [../x]'
expect_log 'New version found [current version: 1.16.5.0; new version: 1.17.0.0; minVersion: 1.16.0.0; forceUpdate: false]'
expect_log 'MORVA_Orderbook64_1.17.0.0.dll saved successfully'
echo "updates end to end: ok"
