#!/usr/bin/env bash
# Runs the program under valgrind memcheck once in each mode (no word, RBT, RBTASSESS) on a copy
# of the demo machine, with the stand-ins the demo uses. Fails on any memcheck error or leak.
# usage: tests/valgrind.sh [build-folder]    (a native build with the program and the stand-ins;
#                                              default build/debug)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/debug}
command -v valgrind >/dev/null || "$top/scripts/install-deps.sh" native
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
machine="$work/machine"
cp -r "$top/examples/demo-machine" "$machine"
"$top/scripts/prepare-machine.sh" "$machine" "Program Files (x86)/VERUZE/Agent" \
    "$build/tools/standins/Cryptel.dll" "$build/tools/standins/encipher" \
    "$top/examples/wpConfig.clear.xml" >/dev/null
agent="$machine/drives/c/Program Files (x86)/VERUZE/Agent"
cp "$build/tools/standins/Quillon" "$agent/BaseComponents/PatchManagement/Quillon.exe"
cp "$build/tools/standins/Bellhop" "$agent/Bellhop.exe"
printf '%s\r\n' 'record=C:\ProgramData\VERUZE\Bellhop_SYSTEM.ini' \
    'result=C:\ProgramData\VERUZE\Bellhop_alice.ini' 'set=RebootStatus|TimerPM|1' \
    >"$agent/Bellhop.behaviour"
status=0
for mode in "" RBT RBTASSESS; do
    code=0
    REBOOTSCHEDULER_MACHINE="$machine" valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
        --error-exitcode=99 --log-file="$work/valgrind.log" "$build/RebootScheduler" $mode || code=$?
    summary=$(grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost" "$work/valgrind.log" |
              sed 's/^==[0-9]*== *//' | tr '\n' ';')
    echo "${mode:-(no word)}: exit code $code; $summary"
    if [ "$code" = 99 ]; then
        status=1
        cat "$work/valgrind.log"
    fi
done
exit $status
