#!/usr/bin/env bash
# Builds every target once and runs every test suite: the native library with its unit tests,
# end-to-end checks and benchmarks' build; the 64-bit DLL with the same tests under 64-bit Wine and
# the 32-bit DLL with them under 32-bit Wine, each in prefixes of its own build tree. Prints a
# summary and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/install-deps || { echo "installing packages failed" >&2; exit 1; }

jobs=$(nproc)
# A clean clone compiles the same sources as the last one did: with paths taken relative to the
# checkout, ccache serves them from the cache wherever the clone lives.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
passed=0
failed=0
summary=()

# Each step's time goes into the summary: docs/performance.md keeps the breakdown.
step_start=$SECONDS
record() {  # record NAME STATUS [SECONDS, when it ran beside other steps]
    local took="(${3:-$((SECONDS - step_start))} s)"
    step_start=$SECONDS
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1)); summary+=("PASS  $1 $took")
    else
        failed=$((failed + 1)); summary+=("FAIL  $1 $took")
    fi
}

run_preset() {  # run_preset PRESET [CTEST ARGS...]; fails when the build does
    local preset=$1
    shift
    echo "=== $preset: configure and build"
    if ! cmake --preset "$preset" >"build/$preset.log" 2>&1 ||
       ! cmake --build --preset "$preset" -j "$jobs" >>"build/$preset.log" 2>&1; then
        tail -n 40 "build/$preset.log"
        record "$preset build" 1
        return 1
    fi
    record "$preset build" 0
    echo "=== $preset: test"
    # Tests labelled "sandbox" need the fake broker and the sandbox's host names and CA.
    ctest --preset "$preset" -j "$jobs" --output-on-failure -LE sandbox "$@"
    record "$preset tests" $?
}

# The tests that talk to the fake broker (built by the linux preset), for every build that passed
# its own, each in sandboxes of its own (own network, broker and Wine socket folder), every build's
# at once, in the background. Each build's faults suite goes first: for minutes it mostly waits on
# the library's network deadlines, so these run side by side. The rest, the load run among them,
# runs under one lock, one build's at a time: several load runs at once starve the TLS handshakes
# of the transports' tests.
sandboxed=()
sandboxed_pids=()
queue_sandboxed() {  # queue_sandboxed PRESET [SANDBOXED TESTS IT LEAVES OUT, as a regex]
    sandboxed+=("$1 ${2:-}")
}
sandboxed_run() {  # sandboxed_run PRESET PART [CTEST ARGS...]: one sandbox, output to the log
    local preset=$1 part=$2
    shift 2
    scripts/sandbox --broker-log "build/sandbox/broker-$preset-$part.log" \
        ctest --preset "$preset" -j "$jobs" --output-on-failure -L sandbox "$@" \
        >>"build/$preset-sandboxed.log" 2>&1
}
start_sandboxed() {
    [ ${#sandboxed[@]} -gt 0 ] || return 0
    echo "=== sandboxed tests, in the background: ${sandboxed[*]%% *}"
    # A wineserver outside would share a prefix with the one a sandbox starts for itself.
    stop_wine
    # Made once here, so that the sandboxes only read it.
    if ! scripts/sandbox-ca; then
        record "sandbox CA" 1
        sandboxed=()
        return 1
    fi
    local entry preset excluded
    for entry in "${sandboxed[@]}"; do
        read -r preset excluded <<<"$entry"
        rm -f "build/$preset-sandboxed.status" "build/$preset-sandboxed.log"
        (
            started=$SECONDS
            status=0
            if [[ "|$excluded|" != *"|faults_end_to_end|"* ]]; then
                sandboxed_run "$preset" faults -R '^faults_end_to_end$' || status=1
            fi
            {
                flock 9
                sandboxed_run "$preset" rest -E "^(faults_end_to_end${excluded:+|$excluded})$" ||
                    status=1
            } 9>build/sandbox/load.lock
            echo "$status $((SECONDS - started))" >"build/$preset-sandboxed.status"
        ) &
        sandboxed_pids+=($!)
    done
}
finish_sandboxed() {
    [ ${#sandboxed_pids[@]} -gt 0 ] && wait "${sandboxed_pids[@]}"
    local entry preset status took
    for entry in "${sandboxed[@]}"; do
        preset=${entry%% *}
        echo "=== $preset: sandboxed tests"
        cat "build/$preset-sandboxed.log"
        read -r status took <"build/$preset-sandboxed.status" || status=1
        record "$preset sandboxed tests" "$status" "${took:-0}"
    done
}

# The main job as a trader meets it, non-interactively: the demo must end with both books of an
# instrument drawn, each with its price marked.
demo_smoke() {
    echo "=== demo (--seeded-token)"
    local out=build/demo-smoke.log
    scripts/demo.sh --seeded-token --instruments EUR_USD,NOPE_USD -- --color never >"$out" 2>&1
    local status=$?
    # NOPE_USD is no instrument: the run reports it and says so in its exit status.
    if [ "$status" -eq 1 ] &&
        grep -qx 'EUR_USD order book' "$out" && grep -qx 'EUR_USD position book' "$out" &&
        [ "$(grep -c '^>.* <- ' "$out")" -eq 2 ] &&
        grep -q 'NOPE_USD order book: no such instrument (-400): NOPE_USD OrderBook does not exist' "$out"; then
        record "demo smoke" 0
    else
        tail -n 40 "$out"
        echo "(demo exit status $status; all of its output in $out)"
        record "demo smoke" 1
    fi
}

# A release of the next version, built by scripts/release.sh from a copy of this checkout with
# stand-in indicators: its own checks of the package run, and the Windows presets' sandboxed
# update test installs it through the exports (MORVA_RELEASE_TREE).
release_next() {
    echo "=== release of the next version"
    local current next indicators=build/stand-in-indicators
    current=$(sed -n 's/^project(morva_orderbook VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
    next=$(awk -F. '{printf "%d.%d.%d.0", $1, $2, $3 + 1}' <<<"$current")
    mkdir -p "$indicators"
    echo "stand-in indicator for MetaTrader 5" >"$indicators/MORVA_Order_Book_EN.ex5"
    echo "stand-in indicator for MetaTrader 4" >"$indicators/MORVA_Order_Book_EN.ex4"
    if scripts/release.sh --version "$next" --indicators "$indicators" >build/release-next.log 2>&1; then
        export MORVA_RELEASE_TREE=$PWD/build/release-$next/src/dist/update
        record "release $next" 0
    else
        tail -n 40 build/release-next.log
        record "release $next" 1
    fi
}

# Wine's servers outlive the tests; stop each prefix's own when done.
stop_wine() {
    local prefix
    for prefix in build/win64/wineprefix* build/win32/wineprefix*; do
        [ -d "$prefix" ] && WINEPREFIX=$PWD/$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
    done
    return 0
}
trap stop_wine EXIT

mkdir -p build
run_preset linux && queue_sandboxed linux && demo_smoke
# The same library and tests under the sanitizers (their presets set the sanitizers' options and
# suppressions, tests/sanitizers/, and stretch the end-to-end deadlines). The sign-in window test
# stays out: WebKitGTK's uninstrumented GTK and GLib stacks under Xvfb only add noise and minutes.
# TSan leaves the faults, whose minute-long stalls it would only stretch, to ASan; its race hunt is
# the transport's concurrent calls and the load run (eight threads, then InitDLL switching accounts
# under them).
run_preset asan && queue_sandboxed asan sign_in_window
run_preset tsan && queue_sandboxed tsan 'sign_in_window|faults_end_to_end'
release_next
run_preset win64 && queue_sandboxed win64
run_preset win32 && queue_sandboxed win32
start_sandboxed
# The parsers of untrusted input under libFuzzer, briefly; scripts/fuzz.sh runs them for longer.
# Meanwhile the sandboxed suites leave the cores idle for minutes, waiting on deadlines; at the
# lowest priority the fuzzers take only what the suites do not use.
echo "=== fuzz: every target for 20 s"
nice -n 19 scripts/fuzz.sh 20
record "fuzz (20 s per target)" $?
finish_sandboxed

# Formatting is part of the build's contract.
echo "=== clang-format"
unformatted=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:' || true)
if [ "$unformatted" -eq 0 ]; then
    record "clang-format" 0
else
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep 'warning:' | head -n 10
    record "clang-format ($unformatted places)" 1
fi

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
[ "$failed" -eq 0 ]
