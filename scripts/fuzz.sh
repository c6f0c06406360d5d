#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]
# Builds the fuzz preset (clang, libFuzzer, ASan and UBSan) and runs each target (all of fuzz/
# without names; a name is a fuzzer's name without "_fuzzer") for SECONDS (default 600). The
# checked-in seeds in fuzz/corpus/TARGET are read only; what a run finds goes to
# build/fuzz/corpus/TARGET, kept for the next run. Exits non-zero on any finding (crash, leak,
# sanitizer report, timeout, unexpected exception) and prints the reproducer's path; replay one
# with build/fuzz/bin/TARGET_fuzzer FILE.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

seconds=${1:-600}
[ $# -gt 0 ] && shift
[[ $seconds =~ ^[0-9]+$ ]] || { echo "fuzz.sh: SECONDS must be a whole number" >&2; exit 2; }
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in fuzz/*_fuzzer.cpp; do
        name=$(basename "$source" _fuzzer.cpp)
        targets+=("$name")
    done
fi

mkdir -p build
echo "=== fuzz: configure and build"
if ! cmake --preset fuzz >build/fuzz.log 2>&1 ||
   ! cmake --build --preset fuzz -j "$(nproc)" >>build/fuzz.log 2>&1; then
    tail -n 40 build/fuzz.log
    exit 1
fi

# The JSON parsers find their way faster with the member names and JSON's tokens at hand.
declare -A uses_json=([book]=1 [token_response]=1 [jwt]=1 [metadata]=1)

fuzz_one() {  # fuzz_one TARGET: runs it and reports; the status is the target's
    local target=$1
    local program=build/fuzz/bin/${target}_fuzzer
    if [ ! -x "$program" ]; then
        echo "FAIL  $target: no such fuzz target ($program)"
        return 1
    fi
    local corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
    local log=build/fuzz/logs/$target.log
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                   -artifact_prefix="$findings/")
    [ -n "${uses_json[$target]:-}" ] && options+=(-dict=fuzz/corpus/json.dict)
    echo "=== fuzz: $target for ${seconds}s"
    local before after rc
    before=$(find "$findings" -type f | wc -l)
    "$program" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    after=$(find "$findings" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$after" -ne "$before" ]; then
        grep -E '^==[0-9]+==ERROR|runtime error|SUMMARY|deadly signal|Test unit written to' "$log" |
            head -n 20
        echo "FAIL  $target (exit $rc; log $log); reproducer:"
        grep -o 'Test unit written to .*' "$log" | sed 's/^Test unit written to /  /'
        return 1
    fi
    echo "PASS  $target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" |
        grep -o '[0-9]*$') runs, $(find "$corpus" -type f | wc -l) inputs in $corpus"
}

# A fuzzer keeps one core busy: one target per core at a time, each for its full time, reported
# in order.
results=build/fuzz/results
rm -rf "$results"
mkdir -p "$results"
# A target named twice runs once: two runs would share its corpus, findings and log.
declare -A seen=()
unique=()
for target in "${targets[@]}"; do
    [ -n "${seen[$target]:-}" ] || unique+=("$target")
    seen[$target]=1
done
targets=("${unique[@]}")
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
        wait -n
    done
    { fuzz_one "$target"; echo $? >"$results/$target.status"; } >"$results/$target.out" 2>&1 &
done
wait
status=0
for target in "${targets[@]}"; do
    cat "$results/$target.out"
    [ "$(cat "$results/$target.status" 2>/dev/null)" = 0 ] || status=1
done
exit "$status"
