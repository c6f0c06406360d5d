#!/usr/bin/env bash
# run_load_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's load scenario (random latency, occasional failures),
# seeds a refresh token, installs a copy of LIBRARY in a terminal-like data folder and runs the load
# PROGRAM against it (through RUNNER, Wine, for the Windows builds) for MORVA_LOAD_SECONDS (45 here
# unless set; the program's own default is 300). Then checks the log holds no token.
source "$(dirname "$0")/e2e_session.sh"

set_scenario "$here/load_e2e_scenario.json"
seed_token
install_library "$work"
export MORVA_LOAD_SECONDS=${MORVA_LOAD_SECONDS:-45}
unset DISPLAY WAYLAND_DISPLAY

run_program

logs=("$work"/MQL5/Logs/MORVA_Orderbook*.log)
[ -f "${logs[0]}" ] || fail "no log file"
check_no_token "${logs[@]}"
echo "load end to end: ok"
