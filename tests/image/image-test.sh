#!/usr/bin/env bash
# capture-image.sh: the captures of Windows volumes made from scenario machines decide as those
# machines do; a volume captured without the facts of a running machine says which are absent,
# and is only read; and the captures it refuses.
#
#   image-test.sh PROGRAM BUILD_FOLDER   (BUILD_FOLDER holds RsCapture)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
program=$1
export RS_BUILD=$2
capture_image=$repo/scripts/capture-image.sh
status=0
failed() {
    echo "FAILED: $*"
    status=1
}

# One machine of each mode, made into a volume and captured with its facts as options: the same
# exit code, log and effects as the machine folder itself.
"$repo/tests/scenarios/run.sh" --host native --exe "$program" --capture "$here/capture-via-image.sh" \
    --only rbt-prompt-answers-restart --only assess-due-first-run || failed "round trip"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/image-test.XXXXXX") || exit 1
trap 'rm -rf -- "$tmp"' EXIT
# The demo machine's drive as a 64-bit Windows volume, its hives naming the computer and the
# all-users profile, its cipher library a Windows one.
volume=$tmp/volume
mkdir -p "$volume"
cp -a -- "$repo/examples/demo-machine/drives/c/." "$volume/"
mkdir -p "$volume/Windows/SysWOW64" "$volume/Windows/System32/config"
{
    cat "$repo/examples/demo-machine/registry/HKLM.reg"
    printf '\n%s\n' '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList]'
    printf '"ProgramData"="%%SystemDrive%%\\\\ProgramData"\n'
    printf '\n%s\n' '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName]'
    printf '"ComputerName"="ZEPHYRBOX"\n'
    printf '\n%s\n' '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\WindowsUpdate\UX\StateVariables]'
    printf '"RebootRequired"=dword:00000001\n'
    printf '\n%s\n' '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager]'
} >"$tmp/HKLM.reg"
python3 "$here/hives.py" "$tmp/HKLM.reg" "$volume/Windows/System32/config/SOFTWARE" \
    "$volume/Windows/System32/config/SYSTEM" || exit 1
agent="$volume/Program Files (x86)/VERUZE/Agent"
printf 'MZ\x90\0' >"$agent/Cryptel.dll"
mkdir -p "$agent/Configuration"
echo enciphered >"$agent/Configuration/wpConfig.xml"
snapshot() { (cd "$volume" && find . -printf '%p %s %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
before=$(snapshot)

out=$tmp/out
"$capture_image" "$volume" "$out" --now '2021-03-04 17:06:07' --console 1,alice >/dev/null ||
    failed "capture without facts: exit $?"
[[ $(snapshot) == "$before" ]] || failed "the volume changed"
expected_facts='[Clock]
Now=2021-03-04 17:06:07
[Environment]
ALLUSERSPROFILE=C:\ProgramData
COMPUTERNAME=host-1
[System]
Wow64=1
SystemDirectory=C:\Windows\system32
[Console]
SessionId=1
User=user-1
[Tasks]
\Microsoft\Windows\UpdateOrchestrator\Reboot=3
[Accounts]
user-1=sid-1
SYSTEM=S-1-5-18
[LocalGroups]
Administrators='
facts=$(tr -d '\r' <"$out/machine.ini" | grep -v '^;')
[[ $facts == "$expected_facts" ]] || failed "machine.ini:"$'\n'"$facts"
notes=$(tr -d '\r' <"$out/capture.ini")
failures=$(sed -n '/^\[Failed\]/,/^\[/p' <<<"$notes")
for line in 'C:\Program Files (x86)\VERUZE\Agent\Configuration\wpConfig.xml=failed 126' \
    System.TickCount64=absent System.LastBootUpTime=absent System.SystemUpTime=absent \
    Account.UserName=absent Sessions=absent Processes=absent ProcessOwners=absent Job=absent; do
    grep -qxF -- "$line" <<<"$failures" || failed "capture.ini [Failed] lacks $line"
done
grep -qi 'Clock\.Now\|Console\.' <<<"$failures" && failed "capture.ini names a given fact absent"
expected_image='[Image]
ControlSet=ControlSet001
SystemDrive=C:
CipherLibrary=a Windows library, which does not run here: the configuration is not deciphered
Clock.Now=option
Console.SessionId=option
Console.User=option
System.Wow64=volume
System.SystemDirectory=volume
Environment.ALLUSERSPROFILE=volume
Environment.COMPUTERNAME=volume'
[[ $(sed -n '/^\[Image\]/,$p' <<<"$notes") == "$expected_image" ]] || failed "capture.ini [Image]"
grep -rqi 'zephyrbox\|alice' "$out" && failed "a redacted name is in the capture"

# The key times come from the hive's nodes: hivex leaves the keys it adds without a time (none is
# noted), so the nodes of the flag's key, the UX state key and the control set's Session Manager
# are dated here, in place, as Windows dates a key it writes.
stamp_node() {
    perl -MWin::Hivex -e '
        my ($file, $path, $seconds) = @ARGV;
        my $hive = Win::Hivex->open($file);
        my $node = $hive->root;
        $node = $hive->node_get_child($node, $_) for split /\\/, $path;
        undef $hive;
        # The node handle is the offset of its cell; the time follows the size, "nk" and flags.
        open(my $f, "+<:raw", $file) or die;
        seek($f, $node + 8, 0);
        print $f pack("Q<", $seconds * 10000000 + 116444736000000000);
        close($f);' "$@"
}
timed=$tmp/timed-volume
cp -a -- "$volume" "$timed"
config=$timed/Windows/System32/config
stamp_node "$config/SOFTWARE" 'Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired' \
    "$(date -u -d '2021-03-01 08:00:00' +%s)"
stamp_node "$config/SOFTWARE" 'Microsoft\WindowsUpdate\UX\StateVariables' "$(date -u -d '2021-03-03 10:30:00' +%s)"
stamp_node "$config/SYSTEM" 'ControlSet001\Control\Session Manager' "$(date -u -d '2021-02-27 23:59:59' +%s)"
"$capture_image" "$timed" "$tmp/timed" --now '2021-03-04 17:06:07' >/dev/null || failed "timed capture: exit $?"
expected_times='[KeyTimes]
SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired=2021-03-01 08:00:00
SYSTEM\CurrentControlSet\Control\Session Manager=2021-02-27 23:59:59
SOFTWARE\Microsoft\WindowsUpdate\UX\StateVariables=2021-03-03 10:30:00'
times=$(tr -d '\r' <"$tmp/timed/machine.ini" | sed -n '/^\[KeyTimes\]/,/^\[/p' | grep -v '^\[[^K]')
[[ $times == "$expected_times" ]] || failed "the key times from the hive:"$'\n'"$times"
grep -qxF 'KeyTimes=volume' <(tr -d '\r' <"$tmp/timed/capture.ini") || failed "capture.ini [Image] lacks KeyTimes=volume"
tr -d '\r' <"$tmp/timed/registry/HKLM.reg" | grep -A1 -F '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\WindowsUpdate\UX\StateVariables]' |
    grep -qxF '"RebootRequired"=dword:00000001' || failed "the UX state value is not in the capture's registry"

# Links on the volume are resolved from its own root, as Windows resolves them: nothing outside
# the volume is read, and a link that leads nowhere on it is listed under [Failed]. Rows of what
# the link is, how it is made, the [Failed] line (none: no link is) and the file read through it.
outside=$tmp/outside
mkdir -p "$outside/VERUZE" "$volume/Data/Real"
printf '[Prompt]\r\nNote=PLANTED-INI-7431\r\n' >"$outside/Bellhop_zorblax.ini"
cp -- "$outside/Bellhop_zorblax.ini" "$outside/VERUZE/"
echo PLANTED-SECRET-7431 >"$outside/secret.txt"
printf '[Prompt]\r\nNote=READ-INSIDE\r\n' >"$volume/Data/Real/Bellhop_alice.ini"
# shellcheck disable=SC2034 # the rows' commands use it
up=$(printf '../%.0s' {1..40})
data=$volume/ProgramData/VERUZE
while IFS='|' read -r what make line read; do
    eval "$make"
    linked=$(snapshot)
    rm -rf -- "$tmp/linked"
    timeout 120 "$capture_image" "$volume" "$tmp/linked" --no-redact --now '2021-03-04 17:06:07' \
        >/dev/null 2>&1 || failed "$what: exit $?"
    [[ $(snapshot) == "$linked" ]] || failed "$what: the volume changed"
    unresolved=$(tr -d '\r' <"$tmp/linked/capture.ini" 2>/dev/null | grep 'unresolved link')
    [[ $unresolved == "$line" ]] || failed "$what: [Failed] says '$unresolved', not '$line'"
    grep -rqa 'PLANTED\|zorblax' "$tmp/linked" && failed "$what: the capture holds what lies outside"
    [[ -z $read ]] || grep -qa READ-INSIDE "$tmp/linked/$read" 2>/dev/null ||
        failed "$what: $read not read through the link"
    [[ -L $volume/ProgramData ]] && rm -- "$volume/ProgramData"
    rm -rf -- "$data" "$volume/ProgramData/VERUZE2" "$volume/Data/Hop"
    mkdir -p "$volume/ProgramData"
done <<'ROWS'
a data folder linked outside|ln -s "$outside" "$data"|C:\ProgramData\VERUZE=unresolved link 1921|
a result file linked outside|mkdir "$data" && ln -s "$outside/secret.txt" "$data/Bellhop_mallory.ini"|C:\ProgramData\VERUZE\Bellhop_mallory.ini=unresolved link 1921|
a folder above it linked outside|rm -r "$volume/ProgramData" && ln -s "$outside" "$volume/ProgramData"|C:\ProgramData=unresolved link 1921|
an absolute target on the volume, chained|ln -s /Data/Hop "$data" && ln -s Real "$volume/Data/Hop"||drives/c/ProgramData/VERUZE/Bellhop_alice.ini
a Windows target on the volume|ln -s 'C:\Data\Real' "$data"||drives/c/ProgramData/VERUZE/Bellhop_alice.ini
a .. chain climbing out|ln -s "$up${outside#/}" "$data"|C:\ProgramData\VERUZE=unresolved link 1921|
a loop of links|ln -s VERUZE2 "$data" && ln -s VERUZE "$volume/ProgramData/VERUZE2"|C:\ProgramData\VERUZE=unresolved link 1921|
ROWS
rm -rf -- "$volume/Data"

# Refused: rows of exit code, what is wrong, the arguments.
cp -- "$RS_BUILD/tools/standins/Cryptel.dll" "$tmp/linux-cipher.dll"
mkdir -p "$tmp/no-hives"
software=$volume/Windows/System32/config/SOFTWARE
while IFS='|' read -r code what arguments; do
    case $what in
    'an installation folder that is no plain path')
        cp -- "$software" "$tmp/SOFTWARE"
        printf '%s\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_LOCAL_MACHINE\SOFTWARE\VERUZE]' \
            '"InstallationPath"="C:\\Agent\\..\\Program Files (x86)\\VERUZE\\Agent"' |
            hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$software"
        ;;
    'a cipher library of this system')
        cp -- "$tmp/SOFTWARE" "$software"
        cp -- "$tmp/linux-cipher.dll" "$agent/Cryptel.dll"
        ;;
    esac
    rm -rf -- "$tmp/refused"
    eval "set -- $arguments"
    "$capture_image" "$@" 2>/dev/null
    actual=$?
    ((actual == code)) || failed "$what: exit $actual, not $code"
    [[ -e $2 ]] && failed "$what: $2 was made"
done <<'ROWS'
2|no volume|"$tmp/none" "$tmp/refused"
2|no hives|"$tmp/no-hives" "$tmp/refused"
3|the capture on the volume|"$volume" "$volume/refused"
2|a fact without a section|"$volume" "$tmp/refused" --fact Now=1
3|an installation folder that is no plain path|"$volume" "$tmp/refused"
3|a cipher library of this system|"$volume" "$tmp/refused"
ROWS
exit "$status"
