#!/usr/bin/env bash
# Replays of captured machines: each row prepares a machine (a scenario's, or the demo machine
# with a change), captures it with the Linux capture program and replays it with
# scripts/replay.sh; the report's first line and each mode's exit code are pinned, report.json is
# validated against tools/replay/report.schema.json, the capture must be byte for byte and time
# for time what it was, and the report must name what the capture could not read. Then the
# redaction check: a machine with distinctive names, captured with redaction, holds none of them
# in any byte or file name, and its replay decides as the unredacted capture's.
#
#   replay-test.sh BUILD_DIR   (a build with RebootScheduler, RsCapture, the
#                               stand-ins and the test server)
set -u
build=$(realpath -e -- "$1") || exit 2
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export RS_BUILD=$build RS_REPO=$repo RS_HOST=native
export RS_STANDINS=$build/tools/standins RS_TOOLS=$build/tools/standins
export RS_TESTSERVER=$build/tools/testserver/testserver
tmp=$(mktemp -d "${TMPDIR:-/tmp}/rs-replay.XXXXXX") || exit 2
trap 'rm -rf -- "$tmp"' EXIT
failed=0 passed=0
fail() { echo "FAILED $*"; failed=$((failed + 1)); }

agent='drives/c/Program Files (x86)/VERUZE/Agent'
# The demo machine as scripts/demo.sh completes it, with the stand-in prompt and patch programs.
machine_demo() {
    cp -r -- "$repo/examples/demo-machine" "$1"
    "$repo/scripts/prepare-machine.sh" "$1" "Program Files (x86)/VERUZE/Agent" "$RS_STANDINS/Cryptel.dll" \
        "$RS_TOOLS/encipher" "${2:-$repo/examples/wpConfig.clear.xml}"
    cp -- "$RS_STANDINS/Bellhop" "$1/$agent/Bellhop.exe"
    cp -- "$RS_STANDINS/Quillon" "$1/$agent/BaseComponents/PatchManagement/Quillon.exe"
}
# A scenario's machine, prepared as the scenario runner prepares it.
machine_case() {
    cp -r -- "$repo/tests/scenarios/cases/$2/machine" "$1"
    [[ ! -f $repo/tests/scenarios/cases/$2/prepare ]] || bash "$repo/tests/scenarios/cases/$2/prepare" "$1"
}
# The demo machine with keys that refuse every open: the reboot-required flag's key and a
# signal's key. The capture notes them as refused; the replay runs without them.
machine_unreadable() {
    machine_demo "$1"
    printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending]\r\n' \
        >>"$1/registry/HKLM.reg"
    printf '[RegistryUnreadable]\r\n%s=1\r\n%s=1\r\n' \
        'SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update' \
        'SOFTWARE\Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending' >>"$1/machine.ini"
}
# The demo machine with its patch program's folder open to every user.
machine_exposed() {
    machine_demo "$1"
    printf '[FileRights]\r\n%s=Administrators,Users\r\n' \
        'C:\Program Files (x86)\VERUZE\Agent\BaseComponents' >>"$1/machine.ini"
}

# Every file of a folder with its size, time and content hash.
fingerprint() {
    (cd "$1" && find . -printf '%p %s %T@\n' | sort && find . -type f -print0 | sort -z | xargs -0 sha256sum)
}
# The value of a mode's field in report.json.
field() {
    python3 -c "import json,sys; r=json.load(open(sys.argv[1])); print(' '.join(m['mode'] + '=' + str(m[sys.argv[2]]) for m in r['modes']))" "$1" "$2"
}
validate() {
    python3 - "$repo/tools/replay/report.schema.json" "$1" <<'EOF'
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
jsonschema.Draft202012Validator(schema).validate(json.load(open(sys.argv[2])))
EOF
}

# check_replay NAME MACHINE CAPTURE_OPTION EXIT_CODES VERDICT [LINE...] -- REPLAY_ARGUMENTS...
# MACHINE: demo, unreadable or case:<scenario>. The report's first line must be VERDICT, each
# mode's exit code as in EXIT_CODES ("RBT=5 RBTASSESS=0"), and report.txt must hold each LINE.
check_replay() {
    local name=$1 source=$2 option=$3 codes=$4 verdict=$5 holds=() line problems=()
    shift 5
    while (($#)) && [[ $1 != -- ]]; do holds+=("$1"); shift; done
    shift
    local machine=$tmp/$name/machine capture=$tmp/$name/capture out=$tmp/$name/replay
    mkdir -p -- "$tmp/$name"
    case $source in
    demo) machine_demo "$machine" ;;
    unreadable) machine_unreadable "$machine" ;;
    exposed) machine_exposed "$machine" ;;
    case:*) machine_case "$machine" "${source#case:}" ;;
    esac >/dev/null
    REBOOTSCHEDULER_MACHINE=$machine "$build/RsCapture" "$capture" ${option:+"$option"} \
        >/dev/null || { fail "$name: the capture failed"; return; }
    local before
    before=$(fingerprint "$capture")
    "$repo/scripts/replay.sh" "$capture" "$@" --out "$out" >/dev/null || problems+=("replay.sh ended with $?")
    [[ -f $out/report.txt ]] || { fail "$name: no report"; return; }
    [[ $(head -n 1 "$out/report.txt") == "$verdict" ]] || problems+=("verdict: $(head -n 1 "$out/report.txt")")
    [[ $(field "$out/report.json" exit_code) == "$codes" ]] ||
        problems+=("exit codes: $(field "$out/report.json" exit_code)")
    for line in "${holds[@]}"; do
        grep -qxF -- "$line" "$out/report.txt" || problems+=("report.txt lacks: $line")
    done
    validate "$out/report.json" >/dev/null 2>&1 || problems+=("report.json does not validate")
    [[ $(fingerprint "$capture") == "$before" ]] || problems+=("the capture changed")
    if ((${#problems[@]})); then
        fail "$name"
        printf '    %s\n' "${problems[@]}"
    else
        echo "ok $name"
        passed=$((passed + 1))
    fi
}

restart='RBT: would restart now ("TimerPM" = "1" in the newest result file)'
check_replay demo-restart demo '' 'RBT=5 RBTASSESS=0' "$restart; RBTASSESS: would start the assessment" \
    '  restart request: machine=(local) message="Microsoft Critical Updates have been Installed. Rebooting Computer." timeout=0 force=1 reboot=1 reason=0x80020011 accepted' \
    '  Windows 10 step: applied: Win10Optin = "1" (Windows 10 Pro), reboot task state TASK_STATE_READY; would change: Successfully modified Registry Values NoAutoRebootWithLoggedOnUsers SOFTWARE\Policies\Microsoft\Windows\WindowsUpdate\AU 1; Reboot job renamed successfully; Reboot folder created successfully; \Microsoft\Windows\UpdateOrchestrator\Reboot Enabled=false' \
    -- both --answer restart
check_replay demo-later demo '' RBT=0 \
    'RBT: would start the prompt program for user-1 in session 1: reboot pending, first seen by this run' \
    '  answer: no restart ("TimerPM" is not "1")' -- RBT --answer later
check_replay demo-refused demo '' RBT=6 'RBT: would restart now, but Windows refuses the request (error 1314)' \
    -- RBT --answer restart --set Account.ShutdownPrivilege=0
check_replay already-recorded case:rbt-flag-set-already-recorded --no-redact RBT=0 \
    'RBT: would start the prompt program for alice in session 1: reboot pending since 3/1/2021 8:0:0' \
    '  pending record: first seen 3/1/2021 8:0:0 ("WPMRbtRequiredON" in C:\ProgramData\VERUZE\Bellhop_SYSTEM.ini), 9d 4h 0m ago' \
    -- RBT
check_replay prompt-missing case:rbt-prompt-missing-timer-set --no-redact RBT=5 "$restart" \
    '  prompt program: not installed: C:\Agent\Bellhop.exe' -- RBT
check_replay not-required case:assess-not-required --no-redact RBTASSESS=0 \
    'RBTASSESS: nothing to do: the last scan is newer than the last start of the system' \
    '  up-time: 86400 s (1d 0h 0m), answered by WMI LastBootUpTime (Win32_OperatingSystem)' -- RBTASSESS
# The rights of the patch program and its folder come with the capture: one every user may
# change is not started as SYSTEM in the replay either.
check_replay exposed exposed '' RBTASSESS=0 \
    'RBTASSESS: nothing to do: an assessment is due, but the patch program is not started (Program not started as SYSTEM, it or its folder is not protected C:\Program Files (x86)\VERUZE\Agent\BaseComponents\PatchManagement\Quillon.exe others may change it)' \
    -- RBTASSESS
# The counter's up-time stays where the capture found it: a clock set back to 30 minutes after the
# last scan makes that scan newer than the last start.
no_reason='RBTASSESS: nothing to do: no reason to assess (recorded flag "0", flag now "0", no restart by the scheduler)'
check_replay counter case:assess-uptime-by-counter --no-redact RBTASSESS=0 "$no_reason" \
    '  up-time: 3600 s (0d 1h 0m), answered by WMI SystemUpTime (Win32_PerfFormattedData_PerfOS_System)' -- RBTASSESS
check_replay counter-at case:assess-uptime-by-counter --no-redact RBTASSESS=0 \
    'RBTASSESS: nothing to do: the last scan is newer than the last start of the system' \
    -- RBTASSESS --at '2021-03-08 12:30:00'
# The restart-loop guard as a gate: the capture keeps the state file's section as it is.
check_replay restart-guard case:rbt-restart-guard-holds --no-redact RBT=8 \
    'RBT: nothing to do: the restart-loop guard holds (Restart not requested: the reboot-required flag survived 3 restarts since 3/8/2021 9:0:0; next restart allowed after 3/15/2021 9:0:0 or once the flag clears)' \
    '  restart guard: 3 restarts requested since 3/8/2021 9:0:0 (last 3/10/2021 11:0:0), survived 2 ("RestartGuard" in C:\ProgramData\VERUZE\Bellhop_SYSTEM.ini); The reboot-required flag survived the restart requested 3/10/2021 11:0:0 (3 of 3 since 3/8/2021 9:0:0); holds until 3/15/2021 9:0:0 or the flag clears' \
    '  answer: restart now ("TimerPM" = "1"), not carried out: the restart-loop guard holds' -- RBT --answer restart
check_replay already-executed case:assess-already-executed --no-redact RBTASSESS=0 \
    'RBTASSESS: nothing to do: an assessment was already started since the last restart ("Manual"/"RBTAssess" = "1")' \
    -- RBTASSESS
unregistered='nothing to do: the agent is not registered (no RegID, or no installation folder)'
check_replay not-registered case:not-registered --no-redact 'RBT=2 RBTASSESS=2' \
    "RBT: $unregistered; RBTASSESS: $unregistered" -- both
check_replay unreadable unreadable '' 'RBT=0 RBTASSESS=0' \
    "RBT: would start the prompt program for user-1 in session 1: no reboot pending; $no_reason" \
    '  HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update: refused 5; not readable; the replay runs as if it were absent: the reboot-required flag reads as clear' \
    '  Component Based Servicing RebootPending: unknown (not readable (refused 5))' -- both

# Usage and a folder that is not a capture.
"$repo/scripts/replay.sh" >/dev/null 2>&1
code=$?
if ((code == 2)); then passed=$((passed + 1)); else fail "replay.sh without a capture ends with $code"; fi
"$repo/scripts/replay.sh" "$repo/examples/demo-machine" --out "$tmp/none" >/dev/null 2>&1
code=$?
if ((code == 3)) && [[ ! -e $tmp/none ]]; then passed=$((passed + 1)); else fail "a machine folder that is no capture ends with $code"; fi
mkdir -p -- "$tmp/other" && : >"$tmp/other/keep"
"$repo/scripts/replay.sh" "$tmp/demo-later/capture" --out "$tmp/other" >/dev/null 2>&1
code=$?
if ((code == 2)) && [[ -f $tmp/other/keep ]]; then passed=$((passed + 1)); else fail "a foreign --out ends with $code"; fi
# A program planted where the capture noted none is never run.
cp -r -- "$tmp/prompt-missing/capture" "$tmp/planted"
printf '#!/bin/sh\n: >"%s"\n' "$tmp/planted-ran" >"$tmp/planted/drives/c/Agent/Bellhop.exe"
chmod +x -- "$tmp/planted/drives/c/Agent/Bellhop.exe"
"$repo/scripts/replay.sh" "$tmp/planted" RBT >/dev/null 2>&1
if [[ ! -e $tmp/planted-ran ]] && grep -qxF "$restart" "$tmp/planted.replay/report.txt" 2>/dev/null; then
    passed=$((passed + 1))
else
    fail "a program planted in a capture was run, or changed the verdict"
fi
cp -r -- "$tmp/demo-later/capture" "$tmp/linked" && ln -s /etc "$tmp/linked/drives/c/link"
"$repo/scripts/replay.sh" "$tmp/linked" --out "$tmp/none" >/dev/null 2>&1
code=$?
if ((code == 3)) && [[ ! -e $tmp/none ]]; then passed=$((passed + 1)); else fail "a capture with a link ends with $code"; fi

# Redaction: distinctive names of the user, the computer, the domain and the web hosts.
names=(Zorblaxine QUIXOTRON7 FLUMMOXCORP hostyglorp zarquonix)
red=$tmp/redaction
mkdir -p -- "$red"
sed -e 's/127\.0\.0\.1:8088/hostyglorp.example/' -e 's/127\.0\.0\.1:8089/zarquonix.example:8443/' \
    "$repo/examples/wpConfig.clear.xml" >"$red/wpConfig.clear.xml"
machine_demo "$red/machine" "$red/wpConfig.clear.xml" >/dev/null
m=$red/machine
sed -i -e 's/^User=alice/User=Zorblaxine/' "$m/machine.ini"
sed -i 's/^\[Environment\]\r\?$/&\nCOMPUTERNAME=QUIXOTRON7\nUSERDOMAIN=FLUMMOXCORP/' "$m/machine.ini"
printf '[ProcessOwners]\r\n2200=Zorblaxine\r\n' >>"$m/machine.ini"
printf '%s\r\n' '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ComputerName\ActiveComputerName]' \
    '"ComputerName"="QUIXOTRON7"' '[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName]' \
    '"ComputerName"="QUIXOTRON7"' >>"$m/registry/HKLM.reg"
printf '[wprestapi]\r\nURL=https://hostyglorp.example/rest/\r\n' >"$m/$agent/Configuration/Hostbook.ini"
mkdir -p -- "$m/drives/c/ProgramData/VERUZE"
printf '[RebootStatus]\r\nPendingWPM=1\r\nWPMRbtRequiredON=3/1/2021 8:0:0\r\nTimerPM=\r\n' \
    >"$m/drives/c/ProgramData/VERUZE/Bellhop_Zorblaxine.ini"
touch -d '2021-03-01 08:00:00' "$m/drives/c/ProgramData/VERUZE/Bellhop_Zorblaxine.ini"
task="$m/drives/c/Windows/System32/Tasks/Microsoft/Windows/UpdateOrchestrator/Reboot"
iconv -f utf-16le -t utf-8 "$task" | sed 's#<URI>#<Author>FLUMMOXCORP\\Zorblaxine on QUIXOTRON7</Author><URI>#' |
    iconv -f utf-8 -t utf-16le >"$task.new" && mv -- "$task.new" "$task"
for kind in redacted clear; do
    rm -f -- "$m/journal.log"
    redact=()
    [[ $kind == clear ]] && redact=(--no-redact)
    REBOOTSCHEDULER_MACHINE=$m "$build/RsCapture" "$red/$kind" "${redact[@]}" >/dev/null ||
        fail "redaction: the $kind capture failed"
    "$repo/scripts/replay.sh" "$red/$kind" RBT --answer restart --at '2021-03-10 12:00:00' --out "$red/$kind.replay" >/dev/null
done
leaks=$(python3 - "$red/redacted" "${names[@]}" <<'EOF'
import os, sys
root, names = sys.argv[1], [n.lower() for n in sys.argv[2:]]
for folder, _, files in os.walk(root):
    for name in files:
        path = os.path.join(folder, name)
        data = open(path, "rb").read().lower()
        for n in names:
            if n in os.path.relpath(path, root).lower() or n.encode() in data or n.encode("utf-16-le") in data:
                print(f"{n} in {os.path.relpath(path, root)}")
EOF
)
if [[ -z $leaks ]]; then passed=$((passed + 1)); else fail "redaction: names left in the capture: ${leaks//$'\n'/, }"; fi
grep -qaP 'F\x00L\x00U\x00M\x00M\x00O\x00X\x00C\x00O\x00R\x00P' "$m/drives/c/Windows/System32/Tasks/Microsoft/Windows/UpdateOrchestrator/Reboot" ||
    fail "redaction: the machine's task file does not hold the domain in UTF-16LE"
# The clear replay with each name as the pseudonym the redacted capture gave it, the port of
# each replay's loopback server and the time column aside.
pseudonym() { sed -n "s/^$1=//p" "$red/redacted/machine.ini" | tr -d '\r' | head -n 1; }
user=$(pseudonym User) computer=$(pseudonym COMPUTERNAME) domain=$(pseudonym USERDOMAIN)
body() {
    { head -n 1 "$1/report.txt"; field "$1/report.json" exit_code
        python3 -c 'import json,sys; [print(l.split("\t",1)[-1]) for m in json.load(open(sys.argv[1]))["modes"] for l in m["log"]]' "$1/report.json"
    } | sed -E -e 's/127\.0\.0\.1:[0-9]+/127.0.0.1:PORT/g' -e "s/Zorblaxine/$user/gI" -e "s/QUIXOTRON7/$computer/gI" \
        -e "s/FLUMMOXCORP/$domain/gI"
}
if [[ -n $user && $user != Zorblaxine ]] && diff <(body "$red/clear.replay") <(body "$red/redacted.replay") >"$red/diff"; then
    passed=$((passed + 1))
else
    fail "redaction: the redacted capture's replay decides otherwise (user $user)"
    sed 's/^/    /' "$red/diff" | head -n 20
fi
head -n 1 "$red/redacted.replay/report.txt" | grep -qxF 'RBT: would restart now ("TimerPM" = "1" in the newest result file)' ||
    fail "redaction: verdict $(head -n 1 "$red/redacted.replay/report.txt")"

echo "$passed passed, $failed failed"
((failed == 0))
