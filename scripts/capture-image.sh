#!/usr/bin/env bash
# Fills OUT with the machine folder that RsCapture writes on a running machine, from
# a mounted Windows volume (a powered-off machine's system drive, a virtual machine's image). The
# volume is only read. A provisional machine folder in a scratch place stands for the machine:
# its registry/HKLM.reg is exported from the volume's SOFTWARE and SYSTEM hives (the keys the
# capture reads), its system drive is a link to the volume, its machine.ini holds the facts the
# options give and those the volume itself tells; the Linux capture program then reads it, so
# the redaction, capture.ini, the log's last lines and the file times are the capture's own.
#
#   capture-image.sh WINDOWS_VOLUME OUT [--no-redact] [--trust-cipher-library] [FACT OPTIONS]
#
# Facts that only a running machine knows (each stays absent unless given; capture.ini then
# lists it in [Failed] as "absent"):
#   --now 'YYYY-MM-DD hh:mm:ss'   the local clock          --tick-count MS   the tick count
#   --last-boot CIM_TEXT          WMI's LastBootUpTime     --uptime SECONDS  WMI's SystemUpTime
#   --console ID[,USER]           the console session and its user
#   --session ID=STATE[,USER]     a session (repeatable)   --process PID=NAME  a process (repeatable)
#   --account NAME                the account the program runs as
#   --wow64 0|1                   default: 1 when the volume holds the system's SysWOW64
#   --fact SECTION.NAME=VALUE     any other fact of machine.ini (repeatable)
# The agent's cipher library on a Windows volume is a Windows library, which cannot run here: the
# configuration is then recorded as not deciphered. A library that is a program of this system
# runs inside the capture only with --trust-cipher-library (else the capture is refused).
#
# Exit codes: those of the capture program (0 written, 3 OUT refused, 4 a file not written), and
# 2 for a usage error or a missing volume or hive. RS_BUILD names a build folder holding
# RsCapture; without it the debug preset builds it.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    echo "usage: capture-image.sh WINDOWS_VOLUME OUT [--no-redact] [--trust-cipher-library]" \
        "[--now TIME] [--tick-count MS] [--last-boot CIM] [--uptime S] [--console ID[,USER]]" \
        "[--session ID=STATE[,USER]]... [--process PID=NAME]... [--account NAME] [--wow64 0|1]" \
        "[--fact SECTION.NAME=VALUE]..." >&2
    exit 2
}
fail() {
    echo "capture-image.sh: $2" >&2
    exit "$1"
}

# The facts given by options, as SECTION.NAME=VALUE.
given=()
fact() {
    [[ $1 =~ ^[^.=]+\.[^=]+= && $1 != *[[:cntrl:]]* ]] || usage
    given+=("$1")
}
(($# >= 2)) || usage
volume=$1 out=$2
shift 2
redact=() trust=0
while (($#)); do
    (($# >= 2)) || [[ $1 == --no-redact || $1 == --trust-cipher-library ]] || usage
    case $1 in
    --no-redact) redact=(--no-redact); shift; continue ;;
    --trust-cipher-library) trust=1; shift; continue ;;
    --now) fact "Clock.Now=$2" ;;
    --tick-count) fact "System.TickCount64=$2" ;;
    --last-boot) fact "System.LastBootUpTime=$2" ;;
    --uptime) fact "System.SystemUpTime=$2" ;;
    --console)
        fact "Console.SessionId=${2%%,*}"
        [[ $2 == *,* ]] && fact "Console.User=${2#*,}"
        ;;
    --session) fact "Sessions.$2" ;;
    --process) fact "Processes.$2" ;;
    --account) fact "Account.UserName=$2" ;;
    --wow64) fact "System.Wow64=$2" ;;
    --fact) fact "$2" ;;
    *) usage ;;
    esac
    shift 2
done
[[ -n $out && $out != -* ]] || usage

command -v hivexregedit >/dev/null && command -v hivexget >/dev/null ||
    fail 2 "hivex's tools are not installed (scripts/install-deps.sh)"
[[ -d $volume ]] && volume=$(realpath -e -- "$volume") || fail 2 "no volume at $volume"
out_path=$(realpath -m -- "$out")
[[ $out_path/ == "$volume"/* ]] && fail 3 "$out lies on the volume, which is only read"

# A path of plain names, which this script and the capture resolve alike: no "/", no "." or ".."
# part, no part ending in a dot or a space, no control character.
plain_path() {
    [[ $1 != */* && $1 != *[[:cntrl:]]* && ! $1\\ =~ [.\ ]\\ ]]
}

# The file or folder of the volume at a path below its root, each part matched without regard
# to case, as Windows matches names; fails when it is not there. No link is followed here (the
# hives, the system's SysWOW64 and the cipher library are none on a Windows volume): the
# capture resolves the volume's links itself, from the volume's root.
on_volume() {
    local here=$volume part entry name found
    local -a parts
    # shellcheck disable=SC2141 # a Windows path's parts are split at its backslashes
    IFS='\' read -ra parts <<<"$1"
    for part in "${parts[@]}"; do
        [[ -z $part ]] && continue
        found=
        [[ -e $here/$part || -L $here/$part ]] && found=$here/$part
        [[ -n $found ]] || for entry in "$here"/* "$here"/.[!.]*; do
            name=${entry##*/}
            if [[ ${name,,} == "${part,,}" && (-e $entry || -L $entry) ]]; then
                found=$entry
                break
            fi
        done
        [[ -n $found && ! -L $found ]] || return 1
        here=$found
    done
    printf '%s\n' "$here"
}

software=$(on_volume 'Windows\System32\config\SOFTWARE') || fail 2 "no SOFTWARE hive on $volume"
system=$(on_volume 'Windows\System32\config\SYSTEM') || fail 2 "no SYSTEM hive on $volume"
for hive in "$software" "$system"; do
    hivexregedit --export --max-depth 0 "$hive" '\' >/dev/null 2>&1 ||
        fail 2 "$hive is no registry hive that hivex reads"
done
# A value of a hive, as hivex prints it (texts decoded, numbers in decimal).
value() { hivexget "$1" "$2" "$3" 2>/dev/null; }

# HKLM\SYSTEM\CurrentControlSet is no key of the hive: it is the control set that Select\Current
# names.
current=$(value "$system" '\Select' Current) || current=
[[ $current =~ ^[0-9]+$ ]] || fail 2 "the SYSTEM hive names no current control set (Select\\Current)"
control_set=$(printf 'ControlSet%03d' "$current")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/capture-image.XXXXXX") || exit 2
trap 'rm -rf -- "$scratch"' EXIT
machine=$scratch/machine
mkdir -p "$machine/registry" "$machine/drives"
reg=$machine/registry/HKLM.reg
echo 'Windows Registry Editor Version 5.00' >"$reg"

# export HIVE PREFIX KEY DEPTH: the key with its values and DEPTH-1 levels of subkeys, if the
# hive has it, appended to HKLM.reg below PREFIX.
export_key() {
    local text
    text=$(hivexregedit --export --max-depth "$4" --prefix "$2" "$1" "\\$3" 2>/dev/null) || return 0
    printf '%s\n' "$text" | sed '1d'
}
# What the capture program reads of the registry: the agent key (four levels below it),
# Windows' version, the update keys and the update policy in both views; the other signals of a
# pending restart and the computer names.
for view in '' 'WOW6432Node\'; do
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' "${view}VERUZE" 5
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' "${view}Microsoft\Windows NT\CurrentVersion" 1
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' \
        "${view}Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update" 5
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' "${view}Policies\Microsoft\Windows\WindowsUpdate" 5
done >>"$reg"
{
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' \
        'Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending' 5
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' 'Microsoft\Updates' 1
    export_key "$software" 'HKEY_LOCAL_MACHINE\SOFTWARE' 'Microsoft\WindowsUpdate\UX\StateVariables' 1
    for key in 'Control\Session Manager' 'Control\ComputerName\ComputerName'; do
        export_key "$system" 'HKEY_LOCAL_MACHINE\SYSTEM' "$control_set\\$key" 1
    done | sed "s/^\[HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\$control_set\\\\/[HKEY_LOCAL_MACHINE\\\\SYSTEM\\\\CurrentControlSet\\\\/I"
} >>"$reg"

# The volume is the system drive: the drive of the system root (C: when the hive names none).
windows_nt='\Microsoft\Windows NT\CurrentVersion'
system_root=$(value "$software" "$windows_nt" SystemRoot) || system_root='C:\Windows'
[[ $system_root =~ ^[A-Za-z]:\\ ]] && plain_path "$system_root" || system_root='C:\Windows'
drive=${system_root:0:1}
drive=${drive,,}
ln -s -- "$volume" "$machine/drives/$drive"

# The facts the volume itself tells, unless an option gives them: where WOW64 and the system
# folder are, the all-users profile, the computer's name.
sources=()
# has_fact SECTION.NAME, or SECTION: whether that fact, or one of that section, is given (names
# without regard to case, as machine.ini reads them).
has_fact() {
    local entry name section
    for entry in "${given[@]}"; do
        name=${entry%%=*} section=${entry%%.*}
        [[ ${name,,} == "${1,,}" || ${section,,} == "${1,,}" ]] && return 0
    done
    return 1
}
for entry in "${given[@]}"; do sources+=("${entry%%=*}=option"); done
# A value of the hive that would break a line of machine.ini is none.
derive() {
    [[ -n $2 && $2 != *[[:cntrl:]]* ]] && ! has_fact "$1" || return 0
    given+=("$1=$2")
    sources+=("$1=volume")
}
wow64=0
on_volume "${system_root:3}\\SysWOW64" >/dev/null && wow64=1
derive System.Wow64 "$wow64"
derive System.SystemDirectory "$system_root\\system32"
program_data=$(value "$software" "$windows_nt\\ProfileList" ProgramData) || program_data=
derive Environment.ALLUSERSPROFILE "${program_data//%[Ss][Yy][Ss][Tt][Ee][Mm][Dd][Rr][Ii][Vv][Ee]%/${drive^^}:}"
computer=$(value "$system" "\\$control_set\\Control\\ComputerName\\ComputerName" ComputerName) ||
    computer=
derive Environment.COMPUTERNAME "$computer"

for entry in "${given[@]}"; do
    name=${entry%%=*}
    printf '[%s]\r\n%s=%s\r\n' "${name%%.*}" "${name#*.}" "${entry#*=}"
done >"$machine/machine.ini"

# Since when each signal of a pending restart is set: the last-write time of its key, which the
# hive keeps in the key's node (a FILETIME, UTC), as [KeyTimes] facts that the capture reads as
# a running machine's key times. A node without a time (0, as hivex leaves the keys it adds) gives
# none.
# key_times HIVE STORED_PREFIX NAMED_PREFIX PATH...: "NAMED_PREFIX\PATH=YYYY-MM-DD hh:mm:ss" for
# each PATH of the hive (below STORED_PREFIX) whose node has a time.
key_times() {
    perl -MWin::Hivex -e '
        my ($file, $stored, $named, @paths) = @ARGV;
        my $hive = Win::Hivex->open($file) or exit 0;
        PATH: for my $path (@paths) {
            my $node = $hive->root;
            for my $part (grep { length } split(/\\/, $stored . "\\" . $path)) {
                $node = eval { $hive->node_get_child($node, $part) } or next PATH;
            }
            my $time = $hive->node_timestamp($node);
            next if $time <= 116444736000000000;
            my @t = gmtime(int(($time - 116444736000000000) / 10000000));
            printf "%s%s=%04d-%02d-%02d %02d:%02d:%02d\r\n", $named, $path,
                $t[5] + 1900, $t[4] + 1, $t[3], $t[2], $t[1], $t[0];
        }' "$@" 2>/dev/null
}
times=$({
    key_times "$software" '' 'SOFTWARE\' \
        'Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired' \
        'Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending' \
        'Microsoft\Updates' 'Microsoft\WindowsUpdate\UX\StateVariables'
    key_times "$system" "$control_set" 'SYSTEM\CurrentControlSet\' 'Control\Session Manager' \
        'Control\ComputerName\ComputerName'
})
if [[ -n $times ]]; then
    printf '[KeyTimes]\r\n%s\n' "$times" >>"$machine/machine.ini"
    sources+=("KeyTimes=volume")
fi

# The agent's cipher library, where either view's agent key installs it. A Windows library does
# not load here (the configuration then stays enciphered); one that is a program of this system
# would run inside the capture, which a volume of unknown origin must not make happen. So must
# an installation folder whose name this check might resolve otherwise than the capture does.
untrusted() {
    ((trust)) || fail 3 "$1 is not run (--trust-cipher-library runs it)"
    cipher=trusted
}
cipher=absent
for view in '' '\WOW6432Node'; do
    install=$(value "$software" "$view\\VERUZE" InstallationPath) || continue
    install=${install#"${install%%[![:space:]]*}"}
    install=${install%"${install##*[![:space:]]}"}
    [[ $install == [A-Za-z]:* ]] && install=${install:2}
    if ! plain_path "$install"; then
        untrusted "the cipher library of the installation folder '$install', no plain path,"
        continue
    fi
    library=$(on_volume "$install\\Cryptel.dll") || continue
    [[ $cipher == absent ]] && cipher=windows
    [[ $(head -c 4 -- "$library" | od -An -c | tr -d ' ') == '177ELF' ]] &&
        untrusted "the volume's cipher library $library, a program of this system,"
done

if [[ -z ${RS_BUILD:-} ]]; then
    (cd "$top" && cmake --preset debug >/dev/null &&
        cmake --build --preset debug --target RsCapture >/dev/null) ||
        fail 2 "cannot build RsCapture"
    RS_BUILD=$top/build/debug
fi
# The capture reads the machine's environment from machine.ini, and a name it does not give from
# the environment it runs in: that of this system, which is not the machine's.
env -i PATH="$PATH" ${TZ:+TZ="$TZ"} REBOOTSCHEDULER_MACHINE="$machine" \
    "$RS_BUILD/RsCapture" "$out" "${redact[@]}"
status=$?
((status == 0)) || exit "$status"

# What a running machine would have answered and no option gave is absent: the capture's answer
# came from this system (its clock, its up-time) or from the emulated host's defaults. So are
# the owners and rights of files, which the volume holds in security descriptors that are not
# read here.
running='Clock.Now System.TickCount64 System.LastBootUpTime System.SystemUpTime Account.UserName
         Console.SessionId Console.User Sessions Processes ProcessOwners Job FileOwners FileRights'
absent=()
for name in $running; do has_fact "$name" || absent+=("$name"); done
# drop_absent FILE SECTION: drops the lines of FILE that name an absent fact, those of SECTION
# only (names without their section), or with "" those of every section (SECTION.NAME); a
# section that is left without lines goes too.
drop_absent() {
    awk -v absent="${absent[*]}" -v only="${2,,}" '
        # A section is written with its first line that stays.
        function print_line() { if (header != "") print header; header = ""; print }
        BEGIN { n = split(tolower(absent), names, " ") }
        /^\[/ { section = tolower($0); gsub(/^\[|\][ \t\r]*$/, "", section); header = $0; next }
        {
            key = tolower($0); sub(/=.*/, "", key)
            if (only == "") key = section "." key
            else if (section != only) { print_line(); next }
            for (i = 1; i <= n; i++)
                if (key == names[i] || index(key, names[i] ".") == 1) next
            print_line()
        }' "$1" >"$1.new" && mv -f -- "$1.new" "$1"
}
drop_absent "$out/machine.ini" ''
drop_absent "$out/capture.ini" Failed
{
    # The absent facts join the capture's [Failed] section (the one section of that name).
    awk -v absent="${absent[*]}" '
        function flush() { if (failed) for (i = 1; i <= n; i++) printf "%s=absent\r\n", names[i]; failed = 0 }
        BEGIN { n = split(absent, names, " ") }
        /^\[/ { flush(); failed = $0 ~ /^\[Failed\]/; seen = seen || failed }
        { print }
        END { if (!seen) { print "[Failed]\r"; failed = 1 } flush() }' "$out/capture.ini"
    printf '[Image]\r\nControlSet=%s\r\nSystemDrive=%s:\r\n' "$control_set" "${drive^^}"
    case $cipher in
    windows) echo 'CipherLibrary=a Windows library, which does not run here: the configuration is not deciphered' ;;
    trusted) echo 'CipherLibrary=a library of this system, run as trusted' ;;
    absent) echo 'CipherLibrary=absent' ;;
    esac | sed 's/$/\r/'
    for entry in "${sources[@]}"; do
        name=${entry%%=*}
        # A name that is a path may hold a user's name: only its section is said.
        [[ $name == *\\* ]] && name=${name%%.*}
        printf '%s=%s\r\n' "$name" "${entry#*=}"
    done
} >"$scratch/capture.ini" && mv -f -- "$scratch/capture.ini" "$out/capture.ini"
