#!/usr/bin/env bash
# run_faults_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's fault scenario, seeds a refresh token, installs a copy
# of LIBRARY in a terminal-like data folder and runs the fault session PROGRAM against it (through
# RUNNER, Wine, for the Windows builds). Then checks that the process ended promptly after the
# library was unloaded with a download hanging, that the log holds the token endpoint's failure but
# no token, and that nothing was written outside the log and the credential store.
source "$(dirname "$0")/e2e_session.sh"
on_exit() {
    curl -fsS -X PUT --data '{"listening": true}' "$control/service" >/dev/null || true
}

set_scenario "$here/faults_e2e_scenario.json"
seed_token
install_library "$work"
logs_dir="$work/MQL5/Logs"
mkdir -p "$work/run"
cp "$here/faults_e2e_scenario.json" "$work/run/scenario.json"
done_file="$work/run/done"
MORVA_E2E_SCENARIO=$(program_path "$work/run/scenario.json")
MORVA_E2E_DONE_FILE=$(program_path "$done_file")
export MORVA_E2E_SCENARIO MORVA_E2E_DONE_FILE
# No display: a sign-in window, when the library needs one, fails at once.
unset DISPLAY WAYLAND_DISPLAY

# The program runs in $work/run, so whatever it might drop in its working folder is seen below.
cd "$work/run"
run_program
ended=$(date +%s)

# Unloading with a download hanging must not hold the process up: it ends within seconds, not
# after the transport's minute.
[ -f "$done_file" ] || fail "the session did not reach its end"
lag=$((ended - $(stat -c %Y "$done_file")))
echo "process ended ${lag}s after the library was unloaded"
[ "$lag" -le 15 ] || fail "the process took ${lag}s to end after the library was unloaded"

logs=("$logs_dir"/MORVA_Orderbook*.log)
[ -f "${logs[0]}" ] || fail "no log file in $logs_dir"
grep -qa 'Failed to get access token by refresh token: Get auth tokens by refresh token failed (HTTP 503): server_error (The token endpoint is failing on purpose)' "${logs[@]}" ||
    fail "the token endpoint's failure is not in the log"
# The token endpoint that trickled: the renewal ended at the time limit, not with a token.
grep -qa 'Failed to get access token by refresh token: Read HTTP response body timed out after 120 s' "${logs[@]}" ||
    fail "the trickling token endpoint's failure is not in the log"
check_no_token "${logs[@]}"

# Only the library copy, the log files, the credential store (and the lock its writers take
# turns on) and this run's own files.
stray=$(cd "$work" && find . -type f \
    ! -path "./MQL5/Libraries/$(basename "$installed")" \
    ! -path './MQL5/Logs/MORVA_Orderbook*.log' \
    ! -path './data/morva/credentials.json' ! -path './data/morva/credentials.json.lock' \
    ! -path './run/scenario.json' ! -path './run/done')
[ -z "$stray" ] || fail "files that should not be there: $stray"
echo "faults end to end: ok"
