# Helpers for the Windows 10 scenarios: the reboot task's definition file, the agent's REST
# service on loopback, and the check of what the run logged and posted.
# Sourced by a case's prepare or check script; RS_REPO and RS_HOST come from run.sh.

win10_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
win10_store=drives/c/Windows/System32/Tasks/Microsoft/Windows/UpdateOrchestrator

# reboot_task MACHINE true|false [FILE_NAME]: the "Reboot" task's definition, as Windows keeps it
# (UTF-16LE with its byte-order mark), with that enabled setting, under FILE_NAME (Reboot).
reboot_task() {
    local folder=$1/$win10_store
    mkdir -p -- "$folder" || return 1
    { printf '\xff\xfe' && sed "s/@ENABLED@/$2/" "$win10_lib/reboot-task.xml" | iconv -f UTF-8 -t UTF-16LE; } \
        >"$folder/${3:-Reboot}"
}

# rest_endpoint MACHINE URL [FOLDER]: the endpoint table entry of the service "wprestapi", in the
# table of the installation folder FOLDER under drive C (Agent).
rest_endpoint() {
    local table=$1/drives/c/${3:-Agent}/Configuration
    mkdir -p -- "$table" &&
        printf '[wprestapi]\r\nURL=%s\r\n' "$2" >"$table/Hostbook.ini"
}

# rest_server_start MACHINE ANSWER...: the service, answering each post with the next ANSWER;
# its state lies beside the machine folder and it ends when that goes. REST_TABLE_FOLDER names the
# installation folder whose endpoint table points at it (Agent).
rest_server_start() {
    local machine=$1 state
    shift
    state=$(dirname -- "$machine")/rest-server
    mkdir -p -- "$state" || return 1
    nohup python3 "$win10_lib/rest_server.py" "$state" "$@" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/pid"
    local tries=0
    until [[ -s $state/port ]]; do
        ((tries++ < 100)) || { echo "rest_server_start: the server did not start" >&2; return 1; }
        sleep 0.05
    done
    rest_endpoint "$machine" "http://127.0.0.1:$(<"$state/port")/rest" "${REST_TABLE_FOLDER:-Agent}"
}

# rest_refused MACHINE: an endpoint on a loopback port that nothing listens on.
rest_refused() {
    local port
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])') || return 1
    mkdir -p -- "$(dirname -- "$1")/rest-server" && echo "$port" >"$(dirname -- "$1")/rest-server/port"
    rest_endpoint "$1" "http://127.0.0.1:$port/rest"
}

# win10_check MACHINE NORMALISED_LOG: compares the log with the case's expected.win10.log and the
# posts with its expected.requests ({PORT} stands for the server's port, {TIME} for the run's
# start time; expected.wine.log / expected.wine.requests replace them under Wine where Wine's
# Task Scheduler answers otherwise), parses every posted body as JSON, and stops the server.
win10_check() {
    local case_dir
    case_dir=$(cd "$(dirname "${BASH_SOURCE[-1]}")" && pwd)
    local state
    state=$(dirname -- "$1")/rest-server
    [[ -f $state/pid ]] && kill "$(<"$state/pid")" 2>/dev/null
    python3 "$win10_lib/win10_check.py" "$case_dir" "$2" "$state" "${RS_HOST:-native}"
}

# native_only COMMAND...: runs the command on the emulated host only (the Wine run brings back the
# machine's files but not its registry).
native_only() {
    [[ ${RS_HOST:-native} == native ]] || return 0
    "$@"
}

# expect COMMAND...: runs the command; when it fails, says so and marks the check failed (see
# win10_status).
win10_status=0
expect() {
    "$@" && return 0
    echo "not so: $*"
    win10_status=1
}

# is_file / is_folder / is_absent MACHINE NAME: an entry of the task store folder.
is_file() { [[ -f $1/$win10_store/$2 ]]; }
is_folder() { [[ -d $1/$win10_store/$2 ]]; }
is_absent() { [[ ! -e $1/$win10_store/$2 ]]; }

# task_enabled_is MACHINE NAME true|false: the enabled setting of the definition file NAME in the
# task store (emulated host only: Wine's Task Scheduler never writes it).
task_enabled_is() {
    [[ ${RS_HOST:-native} == native ]] || return 0
    local value
    value=$(iconv -f UTF-16LE -t UTF-8 "$1/$win10_store/$2" |
        python3 -c 'import re,sys; m=re.search(r"<Settings>.*?<Enabled>\s*(\w+)\s*</Enabled>", sys.stdin.read(), re.S); print(m.group(1) if m else "")')
    [[ $value == "$3" ]]
}

# policy_is MACHINE VALUE|absent: the policy value in the machine's registry afterwards (emulated
# host only: the Wine run does not bring the registry back; its log shows the write).
policy_is() {
    [[ ${RS_HOST:-native} == native ]] || return 0
    local reg=$1/registry/HKLM.reg
    if [[ $2 == absent ]]; then
        ! grep -q 'WindowsUpdate' "$reg"
    else
        grep -q "\"NoAutoRebootWithLoggedOnUsers\"=dword:$(printf '%08x' "$2")" "$reg"
    fi
}

# redirection_switched MACHINE: the emulated host's journal shows the program taking itself for a
# 32-bit process on 64-bit Windows and the WOW64 file-system redirection switched off and, as the
# next thing the host did, back on. (Under Wine the task store's files show it: with redirection
# on, the 32-bit program would have reached SysWOW64's folder instead.)
redirection_switched() {
    [[ ${RS_HOST:-native} == native ]] || return 0
    [[ $(grep -c '^IsWow64Process TRUE$' "$1/journal.log") -ge 1 &&
       $(grep -c '^Wow64' "$1/journal.log") == 2 &&
       $(grep -A1 '^Wow64DisableWow64FsRedirection$' "$1/journal.log") == \
       $'Wow64DisableWow64FsRedirection\nWow64RevertWow64FsRedirection' ]]
}
