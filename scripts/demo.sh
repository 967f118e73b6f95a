#!/usr/bin/env bash
# Builds the program, copies the demo machine to a scratch folder, runs the program on it
# without argument, with RBT and with RBTASSESS, and prints the activity log.
#
#   scripts/demo.sh          the Linux program on the emulated host (prints the host's journal too)
#   scripts/demo.sh --wine   the shipping Windows program (MinGW i686) under Wine, as a 32-bit
#                            process on 64-bit Windows, on the same machine; prints Wine's trace of
#                            the restart request (Wine's InitiateSystemShutdown restarts nothing)
#   scripts/demo.sh --replay the same machine loaded into a Wine prefix, captured there by the
#                            shipping capture program (RsCapture.exe, i686 under
#                            WoW64), and the capture replayed offline by scripts/replay.sh in both
#                            modes, the prompt answering "restart now"; prints the report
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
host=native replay=0
case ${1:-} in
"") ;;
--wine) host=wine ;;
--replay) host=wine replay=1 ;;
*) echo "usage: scripts/demo.sh [--wine|--replay]" >&2; exit 2 ;;
esac

"$top/scripts/install-deps.sh" "$([ $host = wine ] && echo all || echo native)"
# The native build gives the encipher tool in both cases.
cmake --preset debug -S "$top" >/dev/null
cmake --build "$top/build/debug" -j2 --target RebootScheduler cryptel encipher quillon_standin bellhop_standin \
    $([ $replay = 1 ] && echo testserver) >/dev/null
if [ $host = wine ]; then
    cmake --preset mingw-i686 -S "$top" >/dev/null
    cmake --build "$top/build/mingw-i686" -j2 --target RebootScheduler cryptel quillon_standin \
        bellhop_standin xmlencryptor_standin postbird_standin \
        $([ $replay = 1 ] && echo RsCapture) >/dev/null
    standins="$top/build/mingw-i686/tools/standins" exe_suffix=.exe
    program="$top/build/mingw-i686/RebootScheduler.exe"
else
    standins="$top/build/debug/tools/standins" exe_suffix=
    program="$top/build/debug/RebootScheduler"
fi

scratch="$top/scratch/demo-machine"
[ $host = wine ] && scratch="$top/scratch/demo-machine-wine"
[ $replay = 1 ] && scratch="$top/scratch/demo-machine-captured"
rm -rf "$scratch"
mkdir -p "$top/scratch"
cp -r "$top/examples/demo-machine" "$scratch"
"$top/scripts/prepare-machine.sh" "$scratch" "Program Files (x86)/VERUZE/Agent" \
    "$standins/Cryptel.dll" "$top/build/debug/tools/standins/encipher" \
    "$top/examples/wpConfig.clear.xml"
# The stand-in patch program at its Windows path; it notes each run in Quillon.runs beside it.
patch="$scratch/drives/c/Program Files (x86)/VERUZE/Agent/BaseComponents/PatchManagement"
cp "$standins/Quillon$exe_suffix" "$patch/Quillon.exe"
# The stand-in prompt program; as alice would, it answers "restart now" in her result file.
agent="$scratch/drives/c/Program Files (x86)/VERUZE/Agent"
cp "$standins/Bellhop$exe_suffix" "$agent/Bellhop.exe"
# It also copies the reboot state it finds into its record, Bellhop.runs.
printf '%s\r\n' 'record=C:\ProgramData\VERUZE\Bellhop_SYSTEM.ini' \
    'result=C:\ProgramData\VERUZE\Bellhop_alice.ini' 'set=RebootStatus|TimerPM|1' \
    >"$agent/Bellhop.behaviour"

if [ $host = wine ]; then
    # One prefix for the three runs; the agent's COM stand-ins (the i686 servers) are registered
    # in it by the first run.
    prefix="$top/scratch/wine-prefix"
    "$top/tools/wine/prefix.sh" create "$prefix" >/dev/null
fi
if [ $replay = 1 ]; then
    # The capture program writes into C:\rs-capture of the prefix, which comes back into the
    # machine folder's drive with the rest; the capture is then taken out of it.
    capture="$top/scratch/demo-capture"
    rm -rf "$capture" "$scratch/drives/c/rs-capture"
    RS_STANDINS="$standins" WINEDEBUG=-all "$top/tools/wine/run-machine.sh" "$prefix" \
        "$top/build/mingw-i686/RsCapture.exe" "$scratch" 'C:\rs-capture'
    "$top/tools/wine/prefix.sh" stop "$prefix" >/dev/null 2>&1
    mv "$scratch/drives/c/rs-capture" "$capture"
    echo "The capture: $capture"
    echo
    RS_BUILD="$top/build/debug" "$top/scripts/replay.sh" "$capture" both --answer restart
    exit
fi
if [ $host = wine ]; then
    trace="$top/scratch/demo-wine-trace.txt"
    : >"$trace"
fi
for mode in "" RBT RBTASSESS; do
    if [ $host = wine ]; then
        # Wine's trace of the advapi32 stubs: the restart request shows there.
        RS_STANDINS="$standins" WINEDEBUG=-all,fixme+advapi \
            "$top/tools/wine/run-machine.sh" "$prefix" "$program" "$scratch" $mode 2>>"$trace" && code=0 || code=$?
    else
        REBOOTSCHEDULER_MACHINE="$scratch" "$program" $mode && code=0 || code=$?
    fi
    echo "RebootScheduler ${mode:-(no argument)}: exit code $code"
done
[ $host = wine ] && "$top/tools/wine/prefix.sh" stop "$prefix" >/dev/null 2>&1

echo
echo "== activity log =="
cat "$scratch"/drives/c/Program\ Files\ \(x86\)/VERUZE/Agent/BaseComponents/PatchManagement/ApplicationLog/*.log | tr -d '\r'
if [ $host = wine ]; then
    echo
    echo "== Wine's trace of the restart request (its InitiateSystemShutdown is a stub) =="
    grep -a 'InitiateSystemShutdown' "$trace" || echo "(no restart request in the trace)"
elif [ -s "$scratch/journal.log" ]; then
    echo
    echo "== journal (what the emulated host did) =="
    cat "$scratch/journal.log"
fi
if [ -s "$agent/Bellhop.runs" ]; then
    echo
    echo "== runs of the stand-in prompt program, with the reboot state it found =="
    tr -d '\r' <"$agent/Bellhop.runs"
fi
if [ -s "$patch/Quillon.runs" ]; then
    echo
    echo "== runs of the stand-in patch program =="
    tr -d '\r' <"$patch/Quillon.runs"
fi
echo
echo "The machine folder after the runs: $scratch"
