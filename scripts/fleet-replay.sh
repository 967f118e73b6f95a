#!/usr/bin/env bash
# What will my fleet do? Replays every capture of a library on two sides and answers with one
# matrix of verdicts, before and after.
#
#   scripts/fleet-replay.sh LIBRARY --out DIR [--build DIR] [--answer A] [--at TIME]
#       [--set S.K=V ...] [--vs-build DIR] [--vs-answer restart|later|none] [--vs-at TIME]
#       [--vs-set S.K=V ...] [--vs-config CLEAR_XML] [--against PINNED.jsonl]
#       [--pin PINNED.jsonl] [-j N] [--shard I/N]
#   scripts/fleet-replay.sh --merge DIR... --out DIR
#
# LIBRARY holds captures (any folder below it whose capture.ini has [Capture]); a machine's name
# is its path relative to LIBRARY. Each capture is replayed with scripts/replay.sh (both modes)
# on the before side (--build, default the debug build, built first; --answer, --at and --set
# as replay.sh takes them, for both sides) and on the after side (--vs-build, and the --vs-...
# what-ifs in their place: the prompt's answer, the clock, more machine facts, a clear agent
# configuration put in place of the capture's), or on the after side alone against the
# verdicts --pin wrote earlier (--against). DIR gets fleet.txt (printed), fleet.json,
# machines.jsonl and slice.json; --shard I/N replays the I-th of N stable slices, --merge joins
# the slices' folders into what the whole library would give.
# Exit status: 0 no machine decides otherwise, 2 some machine does, 1 a capture could not be
# replayed (listed; the others still count), 64 usage.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian's interpreter, which install-deps.sh completes with python3-jsonschema: a python3 found
# earlier on the PATH may be a version manager's shim that costs more than the replay itself.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
build=''
for ((i = 1; i <= $#; i++)); do
    [[ ${!i} == --build ]] && { j=$((i + 1)); build=${!j-}; }
    [[ ${!i} == --merge ]] && build=none
done
if [[ -z $build ]]; then
    log=$(mktemp) || exit 1
    if ! { cmake --preset debug -S "$top" && nice cmake --build "$top/build/debug" -j2 --target \
        RebootScheduler cryptel encipher quillon_standin bellhop_standin testserver \
        check_capture; } >"$log" 2>&1; then
        cat -- "$log" >&2
        rm -f -- "$log"
        echo "fleet-replay: the build failed" >&2
        exit 1
    fi
    rm -f -- "$log"
fi
exec "$python" "$top/tools/replay/fleet.py" "$@"
