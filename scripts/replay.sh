#!/usr/bin/env bash
# Runs the program offline on a captured machine and reports what it would do there and why.
#
#   scripts/replay.sh CAPTURE [RBT|RBTASSESS|both] [--answer restart|later|none] [--at TIME]
#                     [--set Section.Key=Value ...] [--out DIR]
#
# CAPTURE is a folder written by RsCapture (on Windows, under Wine or on the emulated
# host), checked first (tools/replay/check_capture.cpp). For each mode (default: both) it is
# copied to DIR/machine-<MODE>/ (DIR defaults to CAPTURE.replay beside the capture; DIR is made
# with a marker, .rs-replay, and an existing one is emptied only when it holds that marker and
# nothing else than what a replay writes; the capture itself is never changed) and completed: the stand-ins of the agent's prompt program, patch program and cipher
# library at the paths where the capture found the agent's own (absent ones stay absent), the
# prompt stand-in's answer (--answer, default none), the clear configuration enciphered again,
# every web address of the configuration and of Hostbook.ini pointed at one loopback test server
# (DIR/server.log: what it was sent; nothing leaves the machine), --at as the pinned local clock
# ([Clock] Now=, "YYYY-MM-DD HH:MM:SS"; the captured up-time stays as it is) and each --set as a
# fact of machine.ini; the system clock pinned with the local one ([Clock] SystemClock=pinned) in
# the captured zone (TZ from [Capture] Bias). Then the Linux program runs on the copy, and DIR/report.txt and
# DIR/report.json are written (tools/replay/report.py) and report.txt is printed.
#
# What it runs is built with the debug preset; RS_BUILD=DIR takes a build folder that holds the
# program, the stand-ins (tools/standins) and the test server (tools/testserver) instead.
# Exit status: 0 the report was written (whatever the program decided), 2 usage (an --at that is
# no real local time, a --set of no known fact or of a value not of its kind, a refused --out),
# 3 CAPTURE is not a capture (or holds anything but regular files and folders, exceeds a bound,
# or holds a machine.ini, capture.ini or .reg file that does not read), 4 the replay could not
# be prepared or run, or its report.json does not validate (nothing half-written is left).
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian's interpreter, which install-deps.sh completes with python3-jsonschema: a python3 found
# earlier on the PATH may be a version manager's shim that costs more than the replay itself.
python=/usr/bin/python3
[[ -x $python ]] || python=python3

usage() {
    echo "usage: scripts/replay.sh CAPTURE [RBT|RBTASSESS|both] [--answer restart|later|none]" \
        "[--at 'YYYY-MM-DD HH:MM:SS'] [--set Section.Key=Value ...] [--out DIR]" >&2
    exit 2
}
fail() {
    echo "replay: $*" >&2
    exit 4
}

replay_version=2
capture='' mode=both answer=none at='' out='' have_mode=0
sets=()
while (($#)); do
    case $1 in
    --answer) answer=${2-}; shift 2 || usage
        [[ $answer == restart || $answer == later || $answer == none ]] || usage ;;
    --at) at=${2-}; shift 2 || usage
        [[ $at =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] || usage ;;
    --set) [[ ${2-} =~ ^[A-Za-z0-9_]+\.[^=]+= ]] || usage; sets+=("$2"); shift 2 ;;
    --out) out=${2-}; shift 2 || usage; [[ -n $out ]] || usage ;;
    RBT | RBTASSESS | both) ((have_mode)) && usage; mode=$1 have_mode=1; shift ;;
    -*) usage ;;
    *) [[ -z $capture ]] || usage; capture=$1; shift ;;
    esac
done
[[ -n $capture ]] || usage
modes=(RBT RBTASSESS)
[[ $mode == both ]] || modes=("$mode")

# A capture: its notes with their [Capture] section, and a registry.
capture=$(realpath -m -- "$capture")
if [[ ! -d $capture || ! -f $capture/registry/HKLM.reg || ! -f $capture/capture.ini ]] ||
    ! grep -qi '^\[Capture\]' "$capture/capture.ini" 2>/dev/null; then
    echo "replay: $capture is not a capture (no capture.ini with [Capture]," \
        "or no registry/HKLM.reg)" >&2
    exit 3
fi
[[ -n $out ]] || out=$capture.replay
if [[ -L $out ]]; then
    echo "replay: --out $out is a symbolic link; not touched" >&2
    exit 2
fi
out=$(realpath -m -- "$out")
# Emptying DIR must never touch the capture.
if [[ $out/ == "$capture/"* || $capture/ == "$out/"* ]]; then
    echo "replay: --out $out and the capture may not lie in one another" >&2
    exit 2
fi

build=${RS_BUILD:-}
if [[ -z $build ]]; then
    build=$top/build/debug
    build_log=$(mktemp) || fail "no temporary file"
    if ! { cmake --preset debug -S "$top" && nice cmake --build "$build" -j2 --target \
        RebootScheduler cryptel encipher quillon_standin bellhop_standin testserver \
        check_capture; } >"$build_log" 2>&1; then
        cat -- "$build_log" >&2
        rm -f -- "$build_log"
        fail "the build failed"
    fi
    rm -f -- "$build_log"
fi
build=$(realpath -m -- "$build")
program=$build/RebootScheduler standins=$build/tools/standins
server=$build/tools/testserver/testserver
for need in "$program" "$standins/encipher" "$standins/Cryptel.dll" "$standins/Bellhop" \
    "$standins/Quillon" "$server" "$build/check_capture"; do
    [[ -f $need ]] || fail "no $need in the build folder $build"
done

# The what-if options name facts of the machine-folder format with values of their kinds (2),
# and every file of the capture is a regular file or a folder, within bounds, and its facts and
# registry files read as the emulated host reads them (3): checked before anything is touched.
checks=()
[[ -z $at ]] || checks+=(--at "$at")
for change in "${sets[@]}"; do checks+=(--set "$change"); done
"$build/check_capture" "$capture" "${checks[@]}"
code=$?
((code == 0)) || exit $((code == 2 ? 2 : 3))

# DIR is the replay's own: a folder it made holds its marker, and only what a replay writes is
# ever emptied. Anything else (a file, a link, a folder of someone else's) is refused untouched.
marker=.rs-replay
replay_names='^(\.rs-replay|machine-RBT|machine-RBTASSESS|output-RBT\.txt|output-RBTASSESS\.txt|report\.txt|report\.json|report\.json\.tmp|report\.txt\.tmp|server\.log|server\.port|server\.stop)$'
if [[ -L $out || (-e $out && ! -d $out) ]]; then
    echo "replay: --out $out is not a folder; not touched" >&2
    exit 2
fi
if [[ -d $out && -n $(ls -A -- "$out") ]]; then
    if [[ -L $out/$marker || ! -f $out/$marker ]] || ! grep -q '^\[Replay\]' "$out/$marker"; then
        echo "replay: --out $out holds no replay's marker ($marker); not emptied" >&2
        exit 2
    fi
    while IFS= read -r -d '' entry; do
        name=${entry##*/}
        if [[ ! $name =~ $replay_names ]]; then
            echo "replay: --out $out holds $name, which no replay writes; not emptied" >&2
            exit 2
        fi
    done < <(find "$out" -mindepth 1 -maxdepth 1 -print0)
    find "$out" -mindepth 1 -maxdepth 1 -exec rm -rf -- {} + || fail "cannot empty $out"
fi
mkdir -p -- "$out" || fail "cannot make $out"
printf '[Replay]\r\nVersion=%s\r\nCapture=%s\r\n' "$replay_version" "$capture" >"$out/$marker" ||
    fail "cannot write $out/$marker"

# The run keeps the captured machine's zone: its bias (minutes to add to local time for UTC, as
# Windows states it) as a fixed zone, so that the pinned local clock gives the machine's UTC.
bias=$(sed -n 's/^[Bb][Ii][Aa][Ss]=\(-\?[0-9]\+\)\r\?$/\1/p' "$capture/capture.ini" | head -n 1)
if [[ -n $bias ]]; then
    sign=+
    ((bias < 0)) && sign=- bias=$((-bias))
    export TZ=$(printf 'RST%s%d:%02d' "$sign" $((bias / 60)) $((bias % 60)))
fi

# One loopback server for the whole replay; every request it gets is in server.log.
server_pid=''
stop_server() {
    if [[ -n $server_pid ]]; then
        : >"$out/server.stop"
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        rm -f -- "$out/server.stop" "$out/server.port"
        server_pid=''
    fi
}
trap stop_server EXIT
trap 'exit 130' INT TERM HUP
"$server" --port-file "$out/server.port" --log "$out/server.log" --idle-seconds 600 \
    --hang-seconds 5 --stop-file "$out/server.stop" </dev/null >/dev/null 2>&1 &
server_pid=$!
for ((tries = 0; ; tries++)); do
    [[ -s $out/server.port ]] && break
    if ((tries >= 200)) || ! kill -0 "$server_pid" 2>/dev/null; then
        fail "the loopback server did not start"
    fi
    sleep 0.05
done
port=$(<"$out/server.port")
: >"$out/server.log"

requests() { grep -c '^REQUEST ' "$out/server.log"; }
runs=()
for word in "${modes[@]}"; do
    machine=$out/machine-$word
    cp -a -- "$capture" "$machine" || fail "cannot copy the capture"
    "$python" "$top/tools/replay/prepare.py" "$machine" --standins "$standins" --port "$port" \
        --answer "$answer" ${at:+--at "$at"} "${sets[@]/#/--set=}" || fail "cannot prepare $machine"
    before=$(requests)
    # The stand-ins answer at once; a run that outlives every bound of the program (the prompt's
    # 30 minutes aside) is cut, and its exit code is timeout's 124.
    REBOOTSCHEDULER_MACHINE=$machine timeout --kill-after=10 900 "$program" "$word" >"$out/output-$word.txt" 2>&1
    code=$?
    runs+=(--run "$word:$code:$before:$(requests)")
done
stop_server

"$python" "$top/tools/replay/report.py" "$out" --capture "$capture" --answer "$answer" \
    --schema "$top/tools/replay/report.schema.json" --port "$port" ${at:+--at "$at"} "${sets[@]/#/--set=}" \
    "${runs[@]}" || fail "the report could not be written"
cat -- "$out/report.txt"
exit 0
