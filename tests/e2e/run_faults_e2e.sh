#!/usr/bin/env bash
# run_faults_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's fault scenario, seeds a refresh token, installs a copy
# of LIBRARY in a terminal-like data folder and runs the fault session PROGRAM against it (through
# RUNNER, Wine, for the Windows builds). Then checks that the process ended promptly after the
# library was unloaded with a download hanging, that the log holds the token endpoint's failure but
# no token, and that nothing was written outside the log and the credential store.
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
    curl -fsS -X PUT --data '{"listening": true}' "$control/service" >/dev/null || true
    curl -fsS -X PUT --data '{}' "$control/scenario" >/dev/null || true
    rm -rf "$work"
}
trap restore EXIT

curl -fsS -X PUT --data @"$here/faults_e2e_scenario.json" "$control/scenario" >/dev/null ||
    fail "the broker refused the scenario"
token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
    sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
[ -n "$token" ] || fail "no refresh token from the broker"

libraries="$work/MQL5/Libraries"
logs_dir="$work/MQL5/Logs"
mkdir -p "$libraries" "$work/run"
cp "$library" "$libraries/"
cp "$here/faults_e2e_scenario.json" "$work/run/scenario.json"
name=$(basename "$library")
done_file="$work/run/done"
export MORVA_E2E_REFRESH_TOKEN=$token
export XDG_DATA_HOME="$work/data"  # the Linux credential store; Wine keeps its own
# No display: a sign-in window, when the library needs one, fails at once.
unset DISPLAY WAYLAND_DISPLAY

# The program runs in $work/run, so whatever it might drop in its working folder is seen below.
cd "$work/run"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
if [ ${#runner[@]} -gt 0 ]; then
    MORVA_E2E_LIBRARY=$(windows_path "$libraries/$name") \
    MORVA_E2E_SCENARIO=$(windows_path "$work/run/scenario.json") \
    MORVA_E2E_DONE_FILE=$(windows_path "$done_file") \
        "${runner[@]}" "$program" --gtest_brief=1
else
    MORVA_E2E_LIBRARY="$libraries/$name" MORVA_E2E_SCENARIO="$work/run/scenario.json" \
    MORVA_E2E_DONE_FILE="$done_file" ${MORVA_E2E_DEBUGGER:-} "$program" --gtest_brief=1
fi
ended=$(date +%s)

# Unloading with a download hanging must not hold the process up: it ends within seconds, not
# after the transport's minute.
[ -f "$done_file" ] || fail "the session did not reach its end"
lag=$((ended - $(stat -c %Y "$done_file")))
echo "process ended ${lag}s after the library was unloaded"
[ "$lag" -le 15 ] || fail "the process took ${lag}s to end after the library was unloaded"

logs=("$logs_dir"/MORVA_Orderbook*.log)
[ -f "${logs[0]}" ] || fail "no log file in $logs_dir"
grep -qa 'Failed to get access token by refresh token: Get auth tokens by refresh token failed (HTTP 500): server_error (The token endpoint is failing on purpose)' "${logs[@]}" ||
    fail "the token endpoint's failure is not in the log"
! grep -qa -- "$token" "${logs[@]}" || fail "the refresh token reached the log"
! grep -qa 'eyJ' "${logs[@]}" || fail "an access token reached the log"

# Only the library copy, the log files, the credential store (and the lock its writers take
# turns on) and this run's own files.
stray=$(cd "$work" && find . -type f \
    ! -path "./MQL5/Libraries/$name" \
    ! -path './MQL5/Logs/MORVA_Orderbook*.log' \
    ! -path './data/morva/credentials.json' ! -path './data/morva/credentials.json.lock' \
    ! -path './run/scenario.json' ! -path './run/done')
[ -z "$stray" ] || fail "files that should not be there: $stray"
echo "faults end to end: ok"
