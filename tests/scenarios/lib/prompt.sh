# Helpers for the prompt-flow scenarios (RBT). Sourced by prepare and check scripts; RS_STANDINS,
# RS_REPO, RS_HOST and (in check scripts) RS_OUTPUT come from run.sh.

# install_prompt MACHINE [SETTING...]: the stand-in prompt program at C:\Agent\Bellhop.exe, and
# its behaviour file Bellhop.behaviour with one SETTING a line (see tools/standins/prompt). It
# records each run in Bellhop.runs beside it.
install_prompt() {
    local machine=$1 from=$RS_STANDINS/Bellhop.exe
    shift
    [[ -f $from ]] || from=$RS_STANDINS/Bellhop
    mkdir -p -- "$machine/drives/c/Agent" && cp -- "$from" "$machine/drives/c/Agent/Bellhop.exe" || return 1
    (($#)) && printf '%s\r\n' "$@" >"$machine/drives/c/Agent/Bellhop.behaviour"
    return 0
}

# prompt_runs MACHINE: what the stand-in prompt program recorded, its arguments only
# ("Bellhop ran args=[RBT]"), one line a run.
prompt_runs() {
    local file=$1/drives/c/Agent/Bellhop.runs
    [[ -f $file ]] && tr -d '\r' <"$file" | sed -E 's/ (cmdline|folder)=\[.*$//'
    return 0
}

# masked_rbt_log LOG: the normalised log with the handle values of the launch, which differ from
# host to host, as N, and without the launch's "Last error" line: after a successful session
# query the thread's last error is whatever an earlier call left there, which differs too.
masked_rbt_log() {
    sed -E -e 's/(hToken : )[0-9]+/\1N/' -e 's/(found DupedToken : )[0-9]+/\1N/' \
        -e '/\tfncExecuteInUserAccount\tERR\tLast error : /d' "$1"
}

compare_masked_rbt() {
    diff -u --label expected --label actual "$1" <(masked_rbt_log "$2")
}

# restart_requested MACHINE: whether the run asked for the restart: the emulated host's journal
# line, or under Wine the trace of Wine's InitiateSystemShutdownExA (a stub that restarts
# nothing), which the case's winedebug file turns on.
restart_requested() {
    local comment='"Microsoft Critical Updates have been Installed. Rebooting Computer."'
    if [[ $RS_HOST == wine ]]; then
        grep -qF "InitiateSystemShutdownExA (null) $comment 0 1 1" "$RS_OUTPUT"
    else
        grep -qxF "InitiateSystemShutdown machine=(local) message=$comment timeout=0 force=1 reboot=1 reason=0x80020011 accepted" \
            "$1/journal.log"
    fi
}

# state_of MACHINE: the reboot state file without CR.
state_of() {
    tr -d '\r' <"$1/drives/c/ProgramData/VERUZE/Bellhop_SYSTEM.ini"
}
