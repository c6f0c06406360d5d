#!/usr/bin/env bash
# run_library_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's scenario for this run, has the broker issue a refresh
# token (no browser here), installs a copy of LIBRARY in a terminal-like data folder, runs the
# end-to-end PROGRAM against it (through RUNNER, Wine, for the Windows builds) and then checks what
# the library logged.
source "$(dirname "$0")/e2e_session.sh"

set_scenario "$here/e2e_scenario.json"
seed_token
install_library "$work"
log="$work/MQL5/Logs/MORVA_Orderbook.log"

run_program

# What the library wrote for the trader and the maintainer: one file, UTF-8 with a BOM, CRLF
# lines, who signed in, and never a token.
# (The run writes more than one file's worth: the rolled files count too.)
[ -f "$log" ] || fail "no log file at $log"
logs=("$work"/MQL5/Logs/MORVA_Orderbook*.log)
for file in "${logs[@]}"; do
    [ "$(head -c 3 "$file" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$file does not start with a BOM"
    [ "$(grep -c $'\r$' "$file")" = "$(wc -l <"$file")" ] || fail "a line of $file does not end in CRLF"
done
grep -qa 'INFO  \[[0-9]*\] \[[^]@]*@[0-9]*\] Authorized morva|100042 by https://login.morva.example/ (canAccessPremium=0)' "${logs[@]}" ||
    fail "no Authorized line"
check_no_token "${logs[@]}"
echo "library end to end: ok"
