#!/usr/bin/env bash
# run_release_update_e2e.sh PROGRAM LIBRARY CLIENT_ID [RUNNER...]
# Inside scripts/sandbox: the broker serves the update tree of a newer release, as
# scripts/release.sh wrote it (MORVA_RELEASE_TREE; scripts/test.sh builds one), and a copy of
# LIBRARY finds that version, installs it through its exports and loads what it installed.
source "$(dirname "$0")/e2e_session.sh"

tree=${MORVA_RELEASE_TREE:-}
metadata=$tree/media/documents/OrderbookMetadata.json
[ -f "$metadata" ] ||
    fail "MORVA_RELEASE_TREE names no release's update tree (scripts/release.sh --version V --indicators DIR writes one)"
version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' "$metadata")
base_path=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["source"]["basePath"])' "$metadata")

install_library "$work/terminal"
MORVA_E2E_WORK=$(program_path "$work")
MORVA_E2E_EXPECTED=$(program_path "$tree$base_path")
MORVA_E2E_VERSION=$version
export MORVA_E2E_WORK MORVA_E2E_EXPECTED MORVA_E2E_VERSION

printf '{"metadata": {"tree": "%s"}}' "$tree" | curl -fsS -X PUT --data @- "$control/scenario" \
    >/dev/null || fail "the broker refused the release tree"
seed_token
run_program --gtest_filter='Release.*'
echo "release update end to end ($version): ok"
