#!/usr/bin/env bash
# Stands in for the capture program in run.sh --capture: the machine named by
# REBOOTSCHEDULER_MACHINE is turned into the Windows volume it describes (its drive C with the
# SOFTWARE and SYSTEM hives that hives.py makes of its registry), which capture-image.sh
# captures into OUT, given every fact of the machine's machine.ini as an option.
#
#   REBOOTSCHEDULER_MACHINE=MACHINE capture-via-image.sh OUT [--no-redact]
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
machine=$REBOOTSCHEDULER_MACHINE out=$1
shift
volume=$(mktemp -d "${TMPDIR:-/tmp}/image-volume.XXXXXX")
trap 'rm -rf -- "$volume"' EXIT
cp -a -- "$machine/drives/c/." "$volume/"
config=$volume/Windows/System32/config
mkdir -p -- "$config"
python3 "$here/hives.py" "$machine/registry/HKLM.reg" "$config/SOFTWARE" "$config/SYSTEM"

facts=()
if [[ -f $machine/machine.ini ]]; then
    section=
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        case $line in
        '' | ';'*) ;;
        '['*']') section=${line:1:-1} ;;
        *=*) facts+=(--fact "$section.$line") ;;
        esac
    done <"$machine/machine.ini"
fi
# The stand-in cipher library is a library of this system.
"$here/../../scripts/capture-image.sh" "$volume" "$out" --trust-cipher-library "${facts[@]}" "$@"
