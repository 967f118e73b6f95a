# Machine folders for the benchmarks, made from the scenario machines and completed with the
# built stand-ins the way the scenarios complete them. Sourced by bench/run.sh and bench/ci-check.sh.
#
# Before sourcing: RS_REPO (the checkout), RS_STANDINS (the stand-ins built for the host that
# runs: host programs, or the Windows DLL and programs), RS_TOOLS (the native encipher tool) and
# RS_HOST (native or wine).

# The targets, shared by bench/run.sh (which prints each and whether it is met) and
# bench/ci-check.sh (which fails on an instruction count more than 5 % past its target):
# instructions of one run of the program's own process (valgrind's callgrind), RBTASSESS with
# nothing due and RBT with the reboot flag clear; the newest-result-file search's microseconds a
# file beyond the first 10 at 100,000 files; the peak resident memory of either mode.
bench_target_ir_RBTASSESS=2500000
bench_target_ir_RBT=3500000
bench_target_search_us=4
bench_target_rss_kib=4096

# instructions_of MACHINE COMMAND...: the instructions of one run (callgrind), counted for the
# command's own process only (a program it starts is a process of its own; valgrind also reports
# the child of a fork before it runs the new program). The machine is used as it is.
instructions_of() {
    local machine=$1 report
    shift
    report=$(REBOOTSCHEDULER_MACHINE=$machine valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$@" 2>&1 >/dev/null) || return 1
    local pid
    pid=$(sed -n 's/^==\([0-9]*\)== Command: .*/\1/p' <<<"$report" | head -n 1)
    sed -n "s/^==$pid== Collected : //p" <<<"$report"
}

bench_cases=$RS_REPO/tests/scenarios/cases
# shellcheck source=tests/scenarios/lib/agent.sh
. "$RS_REPO/tests/scenarios/lib/agent.sh"
# shellcheck source=tests/scenarios/lib/assess.sh
. "$RS_REPO/tests/scenarios/lib/assess.sh"
# shellcheck source=tests/scenarios/lib/prompt.sh
. "$RS_REPO/tests/scenarios/lib/prompt.sh"

# assess_machine DIR: RBTASSESS finds nothing due. The last scan is newer than the last start
# (ten minutes ago on a machine up a day; on Wine, whose boot is its wineserver's start, now),
# so the patch program is never started.
assess_machine() {
    rm -rf -- "$1" && cp -r -- "$bench_cases/assess-not-required/machine" "$1" || return 1
    install_agent "$1" Agent "$RS_REPO/examples/wpConfig.clear.xml" || return 1
    install_patch_program "$1" || return 1
    if [[ $RS_HOST == wine ]]; then last_scan_ago "$1" 0; else last_scan_ago "$1" 600; fi
    mkdir -p -- "$1/drives/c/ProgramData/VERUZE"
}

# rbt_machine DIR: RBT with the reboot flag clear; the stand-in prompt program, with no
# behaviour file, answers nothing and exits at once.
rbt_machine() {
    rm -rf -- "$1" && cp -r -- "$bench_cases/rbt-flag-clear-other/machine" "$1" || return 1
    install_agent "$1" Agent "$RS_REPO/examples/wpConfig.clear.xml" || return 1
    install_prompt "$1"
}

# search_machine DIR COUNT: the assessment machine with COUNT prompt result files
# (Bellhop_user<N>.ini, empty, all of one age but the last, the newest) in its data folder.
search_machine() {
    local dir=$1 count=$2 data
    assess_machine "$dir" || return 1
    data=$dir/drives/c/ProgramData/VERUZE
    (cd "$data" && seq -f 'Bellhop_user%.0f.ini' 1 "$count" | xargs touch -d '2021-03-01 08:00:00') || return 1
    touch -- "$data/Bellhop_user$count.ini"
}
