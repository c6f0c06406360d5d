#!/usr/bin/env bash
# run_updates_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: runs the update and premium cases of PROGRAM against a copy of LIBRARY
# (through RUNNER, Wine, for the Windows builds). First with a scenario that publishes a new
# version, then once for each published version that must never become a file name; then checks
# what the library logged.
source "$(dirname "$0")/e2e_session.sh"

install_library "$work/terminal"
logs="$work/terminal/MQL5/Logs"
MORVA_E2E_WORK=$(program_path "$work")
export MORVA_E2E_WORK

set_scenario "$here/updates_e2e_scenario.json"
seed_token
run_program --gtest_filter='Updates.*'

# JSON texts of versions that would lead a file out of its folder.
for version in '1.0\\..\\..\\evil' '../x'; do
    curl -fsS -X PUT --data "{\"metadata\": {\"version\": \"$version\"}}" "$control/scenario" \
        >/dev/null || fail "the broker refused version $version"
    run_program --gtest_filter='RefusedVersion.*'
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
check_no_token "${log_files[@]}"
echo "updates end to end: ok"
