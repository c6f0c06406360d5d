# Sourced by the run_*_e2e.sh scripts, which run inside scripts/sandbox with the arguments
# PROGRAM LIBRARY CLIENT_ID [RUNNER...]: the set-up they share. Each run gets its own folder,
# $work, removed at the end, when the broker goes back to its default scenario (after the
# script's own on_exit, when it defines one).
set -euo pipefail
program=$1
library=$2
client_id=$3
shift 3
runner=("$@")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
control=http://127.0.0.1:8099

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "${MORVA_SANDBOX:-}" = 1 ] || fail "run inside scripts/sandbox"

work=$(mktemp -d)
end_session() {
    if declare -F on_exit >/dev/null; then
        on_exit
    fi
    curl -fsS -X PUT --data '{}' "$control/scenario" >/dev/null || true
    rm -rf "$work"
}
trap end_session EXIT
export XDG_DATA_HOME="$work/data"  # the Linux credential store; Wine keeps its own

set_scenario() {  # set_scenario JSON_FILE
    curl -fsS -X PUT --data @"$1" "$control/scenario" >/dev/null ||
        fail "the broker refused the scenario $1"
}

# A refresh token the broker issued for CLIENT_ID (no browser here): in $token, and in the
# program's environment for it to store.
seed_token() {
    token=$(curl -fsS -X POST --data "{\"clientId\":\"$client_id\"}" "$control/tokens/refresh" |
        sed -n 's/.*"refresh_token":"\([^"]*\)".*/\1/p')
    [ -n "$token" ] || fail "no refresh token from the broker"
    export MORVA_E2E_REFRESH_TOKEN=$token
}

# A copy of LIBRARY where a terminal keeps it, TERMINAL/MQL5/Libraries: $installed.
install_library() {  # install_library TERMINAL
    mkdir -p "$1/MQL5/Libraries"
    cp "$library" "$1/MQL5/Libraries/"
    installed="$1/MQL5/Libraries/$(basename "$library")"
}

# PATH as the program sees it: a Wine drive path for the Windows builds.
program_path() {  # program_path PATH
    if [ ${#runner[@]} -gt 0 ]; then
        printf 'Z:%s' "${1//\//\\}"
    else
        printf '%s' "$1"
    fi
}

# Runs PROGRAM with ARGS against the installed library: through RUNNER (Wine) for the Windows
# builds, natively under $MORVA_E2E_DEBUGGER when that is set.
run_program() {  # run_program [ARG...]
    if [ ${#runner[@]} -gt 0 ]; then
        MORVA_E2E_LIBRARY=$(program_path "$installed") "${runner[@]}" "$program" --gtest_brief=1 "$@"
    else
        MORVA_E2E_LIBRARY=$installed ${MORVA_E2E_DEBUGGER:-} "$program" --gtest_brief=1 "$@"
    fi
}

check_no_token() {  # check_no_token LOG_FILE...
    ! grep -qa -- "$token" "$@" || fail "the refresh token reached the log"
    ! grep -qa 'eyJ' "$@" || fail "an access token reached the log"
}
