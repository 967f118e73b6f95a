#!/usr/bin/env bash
# Builds the program, copies the demo machine to a scratch folder, runs the program on it
# without argument, with RBT and with RBTASSESS, and prints the activity log.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" native
cmake --preset debug -S "$top" >/dev/null
cmake --build "$top/build/debug" -j2 --target RebootScheduler cryptel encipher >/dev/null
scratch="$top/scratch/demo-machine"
rm -rf "$scratch"
mkdir -p "$top/scratch"
cp -r "$top/examples/demo-machine" "$scratch"
"$top/scripts/prepare-machine.sh" "$scratch" "Program Files (x86)/VERUZE/Agent" \
    "$top/build/debug/tools/standins/Cryptel.dll" "$top/build/debug/tools/standins/encipher" \
    "$top/examples/wpConfig.clear.xml"
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
echo
echo "The machine folder after the runs: $scratch"
