#!/usr/bin/env bash
# Measures the fleet replay: a generated library of captures (tests/fleet/make-library.sh, 500 by
# default) replayed with the same build on both sides at -j 1 and -j 2; prints captures per
# second and the processor time (the replays' processes included) per replay of both modes, and
# writes them to bench/fleet.md.
#
#   bench/fleet.sh [--captures N] [--build DIR] [--out FILE]
#
# The library is made once in BUILD/bench-fleet-N and kept for later runs; the build (default
# build/debug, as the replay uses) must hold RebootScheduler, RsCapture, the stand-ins and the
# test server.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
captures=500 build=$repo/build/debug out=$here/fleet.md
while (($#)); do
    case $1 in
    --captures) captures=$2; shift 2 ;;
    --build) build=$(realpath -e -- "$2"); shift 2 ;;
    --out) out=$(realpath -m -- "$2"); shift 2 ;;
    *) echo "usage: bench/fleet.sh [--captures N] [--build DIR] [--out FILE]" >&2; exit 2 ;;
    esac
done
library=$build/bench-fleet-$captures
if [[ ! -d $library ]]; then
    "$repo/tests/fleet/make-library.sh" "$captures" "$library.new" "$build" >/dev/null
    mv -- "$library.new" "$library"
fi
rows=()
for jobs in 1 2; do
    result=$build/bench-fleet-out
    rm -rf -- "$result"
    # %e wall seconds, %U + %S processor seconds of the fleet replay and every process it started.
    times=$( { /usr/bin/time -f '%e %U %S' "$repo/scripts/fleet-replay.sh" "$library" \
        --build "$build" --vs-build "$build" --out "$result" -j "$jobs" >/dev/null; } 2>&1 | tail -n 1)
    read -r wall user system <<<"$times"
    rows+=("$(awk -v n="$captures" -v j="$jobs" -v w="$wall" -v u="$user" -v s="$system" 'BEGIN {
        printf "| %d | %d | %.1f | %.2f | %.3f |", n, j, w, n / w, (u + s) / (2 * n) }')")
done
{
    echo "# Fleet replay"
    echo
    echo "\`bench/fleet.sh --captures $captures\` on $(nproc) cores, $(date -u +%Y-%m-%d):" \
        "the same build on both sides, so every capture is replayed twice (both modes each time)."
    echo
    echo "| captures | -j | wall s | captures/s | processor s per replay |"
    echo "|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
} | tee -- "$out"
