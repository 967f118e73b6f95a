#!/usr/bin/env bash
# A short benchmark for CI. Wall times on shared machines are noisy, so they fail only on a gross
# regression; instruction counts are not, so they fail close to their targets.
#
#   bench/ci-check.sh --exe PATH [--runs N] [--limit X]
#
# Runs RBTASSESS (nothing due), RBT (reboot flag clear, the prompt stand-in exits at once) and a
# start-up run with 10,000 result files in the data folder, each N times (default 7), beside
# /bin/true, and compares the fastest run of each: a mode fails beyond X times the floor (default
# 10), the search beyond X times the search's target a file (bench/machines.sh). Then, where
# valgrind is installed, counts the instructions of one run of each mode and fails a count more
# than 5 % past its target: the program given should be an optimised build (the release preset's,
# as CI gives it). The stand-ins are taken from the program's build folder (tools/standins).
# Needs bash, python3 and coreutils, and valgrind for the counts.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
exe='' runs=7 limit=10
while (($#)); do
    case $1 in
    --exe) exe=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --limit) limit=$2; shift 2 ;;
    *) echo "usage: bench/ci-check.sh --exe PATH [--runs N] [--limit X]" >&2; exit 2 ;;
    esac
done
exe=$(realpath -e -- "$exe" 2>/dev/null) || { echo "ci-check.sh: no program given (--exe)" >&2; exit 2; }
standins=$(dirname -- "$exe")/tools/standins
export RS_REPO=$repo RS_STANDINS=$standins RS_TOOLS=$standins RS_HOST=native
# shellcheck source=bench/machines.sh
. "$here/machines.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/rs-bench-ci.XXXXXX") || exit 2
trap 'rm -rf -- "$work"' EXIT
assess_machine "$work/assess" && rbt_machine "$work/rbt" && search_machine "$work/search" 10000 ||
    { echo "ci-check.sh: cannot make the machine folders" >&2; exit 2; }

# fastest MACHINE COMMAND...: the shortest wall time of the runs, in seconds; fails when a run
# fails.
fastest() {
    local machine=$1
    shift
    REBOOTSCHEDULER_MACHINE=$machine python3 - "$runs" "$@" <<'EOF'
import subprocess, sys, time
runs, command = int(sys.argv[1]), sys.argv[2:]
best = None
for _ in range(runs + 1):  # the first run only warms the caches
    start = time.perf_counter()
    code = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    if code != 0:
        sys.exit(f"{' '.join(command)} ended with {code}")
    best = elapsed if best is None else min(best, elapsed)
print(best)
EOF
}

status=0
check() {  # check NAME SECONDS BUDGET_SECONDS
    local verdict
    verdict=$(python3 -c "import sys; t, b, x = map(float, sys.argv[1:]); print('ok' if t <= b * x else 'FAILED')" "$2" "$3" "$limit")
    printf '%-6s %-28s %8.2f ms  (limit %.2f ms)\n' "$verdict" "$1" "$(python3 -c "print($2 * 1e3)")" \
        "$(python3 -c "print($3 * $limit * 1e3)")"
    [[ $verdict == ok ]] || status=1
}

floor=$(fastest "$work/assess" /bin/true) || exit 1
assess=$(fastest "$work/assess" "$exe" RBTASSESS) || exit 1
rbt=$(fastest "$work/rbt" "$exe" RBT) || exit 1
search=$(fastest "$work/search" "$exe") || exit 1
echo "floor (/bin/true): $(python3 -c "print(round($floor * 1e3, 2))") ms"
check "RBTASSESS" "$assess" "$floor"
# RBT starts the prompt program too: two process starts.
check "RBT" "$rbt" "$(python3 -c "print(2 * $floor)")"
check "start-up, 10,000 result files" "$search" \
    "$(python3 -c "print($floor + 10000 * $bench_target_search_us * 1e-6)")"

if command -v valgrind >/dev/null; then
    for mode in RBTASSESS RBT; do
        # A machine of its own, as fresh as bench/run.sh counts on.
        machine=$work/counted-$mode
        if [[ $mode == RBT ]]; then rbt_machine "$machine"; else assess_machine "$machine"; fi
        target_var=bench_target_ir_$mode
        count=$(instructions_of "$machine" "$exe" "$mode")
        verdict=$(python3 -c "import sys; c, t = map(int, sys.argv[1:]); print('ok' if c <= t * 1.05 else 'FAILED')" \
            "${count:-0}" "${!target_var}" 2>/dev/null) || verdict=FAILED
        [[ -n $count ]] || verdict=FAILED
        printf '%-6s %-28s %8s instructions  (target %s, failing beyond %s)\n' "$verdict" "$mode" \
            "${count:-none}" "${!target_var}" "$((${!target_var} * 105 / 100))"
        [[ $verdict == ok ]] || status=1
    done
else
    echo "instruction counts not checked: valgrind is not installed"
fi
exit "$status"
