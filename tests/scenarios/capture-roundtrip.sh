#!/usr/bin/env bash
# The round trip of a prepared scenario machine through the capture program: MACHINE is captured
# (unredacted) by CAPTURE_EXE, and the capture takes MACHINE's place, completed with what a
# capture only notes: the agent's programs and libraries and the stand-ins' behaviour files
# (copied from the machine), the configuration enciphered again ($RS_TOOLS/encipher), and the
# facts of machine.ini that stand for Windows state the capture does not read (who may write
# in folders, reparse owners, program policies, protected processes, read-only keys, missing
# components, refused restarts and event records, owners of other processes than the shell, the
# cut of long waits). The owners and rights of the agent's programs, their folders and the
# result files are the capture's own.
#
#   capture-roundtrip.sh MACHINE CAPTURE_EXE
#   capture-roundtrip.sh --complete CAPTURE MACHINE
# The second form only completes CAPTURE, made elsewhere (under Wine) of a machine prepared as
# MACHINE was, from MACHINE, which it leaves as it is.
set -eu
if [[ $1 == --complete ]]; then
    work=$2 machine=$3
else
    machine=$1 capture_exe=$2
    work=$machine.capture
    rm -rf -- "$work"
    REBOOTSCHEDULER_MACHINE=$machine "$capture_exe" "$work" --no-redact >/dev/null
fi

# A Windows path of the capture as a path of its folder.
host_path() {
    local path=${1//\\//} drive
    drive=${path%%:*}
    printf '%s/drives/%s%s\n' "$work" "${drive,,}" "${path#*:}"
}

(cd "$machine" && find drives -type f \( -iname '*.exe' -o -iname '*.dll' -o -iname '*.behaviour' \)) |
    while IFS= read -r file; do
        mkdir -p -- "$work/$(dirname -- "$file")"
        cp -a -- "$machine/$file" "$work/$file"
    done

clear=$(sed -n 's/^ClearConfiguration=//p' "$work/capture.ini" | tr -d '\r')
if [[ -n $clear ]]; then
    config=$(host_path "$clear")
    "$RS_TOOLS/encipher" "$config" "$config.enciphered"
    mv -f -- "$config.enciphered" "$config"
fi

if [[ -f $machine/machine.ini ]]; then
    awk '
        /^[ \t]*\[/ { section = $0; gsub(/^[ \t]*\[|\][ \t\r]*$/, "", section); next }
        {
            line = $0; sub(/\r$/, "", line)
            name = line; sub(/[ \t]*=.*/, "", name); sub(/^[ \t]+/, "", name)
            # Sections and names without regard to case, as the emulated host reads them.
            s = tolower(section); n = tolower(name)
            whole = s ~ /^(fileaccess|reparseowners|blockedprograms|zonemarks|instance|protectedprocesses|registryreadonly|missingcomponents|power|eventlog|processowners)$/
            key = (s == "clock" && n == "maxwaitms") || (s == "account" && n == "shutdownprivilege") ||
                  (s == "tasks" && n == "service")
            if ((whole || key) && line ~ /=/) printf "[%s]\r\n%s\r\n", section, line
        }' "$machine/machine.ini" >>"$work/machine.ini"
fi

if [[ $1 != --complete ]]; then
    rm -rf -- "$machine"
    mv -- "$work" "$machine"
fi
