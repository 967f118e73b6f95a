#!/usr/bin/env bash
# Builds the program, copies the demo machine to a scratch folder, runs the program on it
# without argument, with RBT and with RBTASSESS, and prints the activity log.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" native
cmake --preset debug -S "$top" >/dev/null
cmake --build "$top/build/debug" -j2 --target RebootScheduler cryptel encipher quillon_standin bellhop_standin >/dev/null
scratch="$top/scratch/demo-machine"
rm -rf "$scratch"
mkdir -p "$top/scratch"
cp -r "$top/examples/demo-machine" "$scratch"
"$top/scripts/prepare-machine.sh" "$scratch" "Program Files (x86)/VERUZE/Agent" \
    "$top/build/debug/tools/standins/Cryptel.dll" "$top/build/debug/tools/standins/encipher" \
    "$top/examples/wpConfig.clear.xml"
# The stand-in patch program at its Windows path; it notes each run in Quillon.runs beside it.
patch="$scratch/drives/c/Program Files (x86)/VERUZE/Agent/BaseComponents/PatchManagement"
cp "$top/build/debug/tools/standins/Quillon" "$patch/Quillon.exe"
# The stand-in prompt program; as alice would, it answers "restart now" in her result file.
agent="$scratch/drives/c/Program Files (x86)/VERUZE/Agent"
cp "$top/build/debug/tools/standins/Bellhop" "$agent/Bellhop.exe"
# It also copies the reboot state it finds into its record, Bellhop.runs.
printf '%s\r\n' 'record=C:\ProgramData\VERUZE\Bellhop_SYSTEM.ini' \
    'result=C:\ProgramData\VERUZE\Bellhop_alice.ini' 'set=RebootStatus|TimerPM|1' \
    >"$agent/Bellhop.behaviour"
for mode in "" RBT RBTASSESS; do
    REBOOTSCHEDULER_MACHINE="$scratch" "$top/build/debug/RebootScheduler" $mode && code=0 || code=$?
    echo "RebootScheduler ${mode:-(no argument)}: exit code $code"
done
echo
echo "== activity log =="
cat "$scratch"/drives/c/Program\ Files\ \(x86\)/VERUZE/Agent/BaseComponents/PatchManagement/ApplicationLog/*.log | tr -d '\r'
if [ -s "$scratch/journal.log" ]; then
    echo
    echo "== journal (what the emulated host did) =="
    cat "$scratch/journal.log"
fi
if [ -s "$agent/Bellhop.runs" ]; then
    echo
    echo "== runs of the stand-in prompt program, with the reboot state it found =="
    cat "$agent/Bellhop.runs"
fi
if [ -s "$patch/Quillon.runs" ]; then
    echo
    echo "== runs of the stand-in patch program =="
    cat "$patch/Quillon.runs"
fi
echo
echo "The machine folder after the runs: $scratch"
