#!/usr/bin/env bash
# Runs one fuzz target, or all of them, for a number of seconds each, over the seed corpus
# of the target in tests/fuzz/corpus/<target>/ (the seeds are read, never added to: new inputs go
# to a scratch corpus under the build folder). RS_FUZZ_JOBS targets at a time (1 unless set), each
# one process; the lines come in the targets' order either way.
# usage: tests/fuzz/run.sh TARGET|all SECONDS [build-folder]     (default build/fuzz)
# Prints "<target> <executions> <exec/s>" per target and the total; exits non-zero when a target
# fails, leaving the input in <build-folder>/fuzz-artifacts/.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
target="${1:?usage: run.sh TARGET|all SECONDS [build-folder]}"
seconds="${2:?usage: run.sh TARGET|all SECONDS [build-folder]}"
build="${3:-$root/build/fuzz}"
jobs="${RS_FUZZ_JOBS:-1}"
targets=(ini_read ini_roundtrip reg_roundtrip machine_facts web_config dates command_arg records)
[ "$target" = all ] || targets=("$target")
for t in "${targets[@]}"; do
    exe="$build/tests/fuzz/fuzz_$t"
    [ -x "$exe" ] || { echo "missing $exe (cmake --preset fuzz && cmake --build --preset fuzz)"; exit 2; }
done
# One target: its log, and its exit code in <log>.rc.
fuzz_one() {
    local t=$1 work="$build/fuzz-corpus/$1" artifacts="$build/fuzz-artifacts/$1/"
    local log="$build/fuzz-artifacts/$1.log"
    mkdir -p "$work" "$artifacts"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$work" \
        "$root/tests/fuzz/corpus/$t" >"$log" 2>&1
    echo $? >"$log.rc"
}
for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    fuzz_one "$t" &
done
wait
status=0
total=0
for t in "${targets[@]}"; do
    log="$build/fuzz-artifacts/$t.log"
    rc=$(cat "$log.rc" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    echo "$t ${runs:-0} ${speed:-0}/s"
    total=$((total + ${runs:-0}))
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "FAILED: $t (exit $rc), log $log"
        grep -E "PROPERTY BROKEN|ERROR: |runtime error|SUMMARY|Test unit written" "$log" | head -10
    fi
done
echo "total $total"
exit $status
