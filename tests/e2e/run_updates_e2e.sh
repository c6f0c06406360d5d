#!/usr/bin/env bash
# run_updates_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: runs the update and premium cases of PROGRAM against a copy of LIBRARY
# (through RUNNER, Wine, for the Windows builds). First with a scenario that publishes a new
# version, then once for each published version that must never become a file name and for each
# library that is no DLL for MetaTrader 5; then checks what the library logged.
source "$(dirname "$0")/e2e_session.sh"

install_library "$work/terminal"
logs="$work/terminal/MQL5/Logs"
MORVA_E2E_WORK=$(program_path "$work")
export MORVA_E2E_WORK

set_scenario "$here/updates_e2e_scenario.json"
seed_token
# The libraries as the broker serves them, to compare what the library installs with.
mkdir -p "$work/expected"
for bits in 32 64; do
    name=MORVA_Orderbook${bits}_1.17.0.0.dll
    curl -fsS -o "$work/expected/$name" "https://www.morva.example/downloads/$name" ||
        fail "the broker served no $name"
done
MORVA_E2E_EXPECTED=$(program_path "$work/expected")
export MORVA_E2E_EXPECTED
run_program --gtest_filter='Updates.*'

# The JSON text of a version that would lead a file out of its folder (any text but a release
# number takes the same way).
version='1.0\\..\\..\\evil'
curl -fsS -X PUT --data "{\"metadata\": {\"version\": \"$version\"}}" "$control/scenario" \
    >/dev/null || fail "the broker refused version $version"
run_program --gtest_filter='Refused.*'

# A web page answered with 200 in place of the library, and the 32-bit library under its name
# (its headers: the machine is checked before the sections).
for library in '"<!DOCTYPE html><html><body>Sign in</body></html>"' \
    "{\"base64\": \"$(head -c 512 "$work/expected/MORVA_Orderbook32_1.17.0.0.dll" | base64 -w0)\"}"; do
    printf '{"metadata": {"version": "1.17.0.0", "files": {"%s": %s}}}' \
        MORVA_Orderbook64_1.17.0.0.dll "$library" |
        curl -fsS -X PUT --data @- "$control/scenario" >/dev/null ||
        fail "the broker refused the library"
    run_program --gtest_filter='Refused.*'
done

log_files=("$logs"/MORVA_Orderbook*.log)
[ -f "${log_files[0]}" ] || fail "no log file in $logs"
expect_log() {
    grep -qaF -- "$1" "${log_files[@]}" || fail "the log lacks: $1"
}
expect_log 'Failed to update indicator: Failed to open ofstream: '
expect_log 'Failed to update indicator: Published version is not a release number [1.0\..\..\evil]'
expect_log 'Failed to update indicator: Downloaded library is not a Windows DLL for mt5: no MZ header'
expect_log 'Failed to update indicator: Downloaded library is not a Windows DLL for mt5: machine 0x014C, not 0x8664'
expect_log 'New version found [current version: 1.16.5.0; new version: 1.17.0.0; minVersion: 1.16.0.0; forceUpdate: false]'
expect_log 'MORVA_Orderbook64_1.17.0.0.dll saved successfully'
check_no_token "${log_files[@]}"
echo "updates end to end: ok"
