#!/usr/bin/env bash
# run_library_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: sets the broker's scenario for this run, has the broker issue a refresh
# token (no browser here), installs a copy of LIBRARY in a terminal-like data folder, runs the
# end-to-end PROGRAM against it (through RUNNER, Wine, for the Windows builds) and then checks what
# the library logged.
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

curl -fsS -X PUT --data @"$here/e2e_scenario.json" "$control/scenario" >/dev/null ||
    fail "the broker refused the scenario"
token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
    sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
[ -n "$token" ] || fail "no refresh token from the broker"

libraries="$work/MQL5/Libraries"
log="$work/MQL5/Logs/MORVA_Orderbook.log"
mkdir -p "$libraries"
cp "$library" "$libraries/"
name=$(basename "$library")
export MORVA_E2E_REFRESH_TOKEN=$token
export XDG_DATA_HOME="$work/data"  # the Linux credential store; Wine keeps its own

if [ ${#runner[@]} -gt 0 ]; then
    MORVA_E2E_LIBRARY="Z:${libraries//\//\\}\\$name" "${runner[@]}" "$program" --gtest_brief=1
else
    MORVA_E2E_LIBRARY="$libraries/$name" ${MORVA_E2E_DEBUGGER:-} "$program" --gtest_brief=1
fi

# What the library wrote for the trader and the maintainer: one file, UTF-8 with a BOM, CRLF
# lines, who signed in, and never a token.
# (The run writes more than one file's worth: the rolled files count too.)
[ -f "$log" ] || fail "no log file at $log"
logs=("$work"/MQL5/Logs/MORVA_Orderbook*.log)
for file in "${logs[@]}"; do
    [ "$(head -c 3 "$file" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$file does not start with a BOM"
    [ "$(grep -c $'\r$' "$file")" = "$(wc -l <"$file")" ] || fail "a line of $file does not end in CRLF"
done
grep -qa 'INFO  \[[0-9]*\] \[morva::Module::InitCreds@[0-9]*\] Authorized morva|100042 by https://login.morva.example/ (canAccessPremium=0)' "${logs[@]}" ||
    fail "no Authorized line"
! grep -qa -- "$token" "${logs[@]}" || fail "the refresh token reached the log"
! grep -qa 'eyJ' "${logs[@]}" || fail "an access token reached the log"
echo "library end to end: ok"
