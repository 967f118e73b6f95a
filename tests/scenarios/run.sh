#!/usr/bin/env bash
# Runs every scenario of tests/scenarios/cases on one host and compares what the program did.
#
#   run.sh --host native|wine --exe PATH [--prefix DIR] [--only NAME]... [--update] [--timing]
#          [--capture CAPTURE_EXE]
#
# A scenario is a folder cases/<name>/ with
#   machine/         the machine folder the run starts from (copied afresh for every run)
#   args             optional: one line, the argument words (none when the file is missing)
#   hosts            optional: the hosts the case runs on, words "native" and "wine" (both when
#                    the file is missing), for cases that rest on facts only the emulated host
#                    takes from machine.ini (a pinned clock, an up-time)
#   winedebug        optional: WINEDEBUG for the Wine run, one line (Wine's trace channels, such
#                    as fixme+advapi); its output is then the trace, which need not be empty and
#                    which the check script finds at $RS_OUTPUT
#   prepare          optional: bash script run with the copied machine folder as $1 before the
#                    run (for content too large to keep as plain files); a service it starts
#                    writes its process id to a file pid in a folder beside the machine folder,
#                    and is stopped once the case is over
#   expected.log     the activity log expected: each record without its first (date-time) field,
#                    the "#Date: ..." header line as "#Date:"; or
#   expected.nolog   no activity log may exist
#   expected.exit    the exit code
#   expected.output  optional: what the program prints; without it, it must print nothing
#   expected.files   optional: lines "PATH" (must exist), "!PATH" (must not exist) or
#                    "PATH<TAB>TEXT" (must contain TEXT), PATH relative to the machine folder
#   check            optional: bash script run with the machine folder after the run as $1 and the
#                    normalised log as $2 (absent when there is no log); its status decides. It
#                    may run the program again on the machine with run_again (lib/again.sh)
#   max-seconds      optional: the longest the run may take (300 when missing); a run cut there
#                    ends with 124
# The activity log is the one file drives/c/**/wppatchSch_*_patchlog.log of the machine folder.
#
# --host native runs EXE with REBOOTSCHEDULER_MACHINE set to the copy; --host wine runs the Windows
# program through tools/wine/run-machine.sh in one Wine prefix made for the whole run (--prefix
# keeps it in DIR and reuses it from an earlier run). --update (native only) rewrites
# expected.log / expected.nolog and expected.exit from what the program did.
# --capture on the native host runs each case on the capture of its prepared machine instead
# (capture-roundtrip.sh), which must give the same results; cases listed in a file
# "capture-differs" (its first line says why) are left out of that run.
# --host wine --capture CAPTURE_EXE is the round trip through Wine: EXE is the Linux program.
# Each case that runs under Wine is prepared twice; one, with the Windows stand-ins of
# RS_STANDINS (by default beside CAPTURE_EXE) in place of the Linux ones, is loaded into the
# prefix and captured there by the Windows CAPTURE_EXE, the capture is completed from that
# preparation (capture-roundtrip.sh --complete) and run by EXE, and the other preparation is run
# by EXE with the capture's clock and up-time facts. Both runs must end alike: the exit code,
# what the run wrote to the activity log (the time column aside) and the journal's effects
# (effects below). A case that must differ has a file "wine-capture-differs": its first line
# says why, the rest is the comparison's report that the round trip must give, word for word
# (--update rewrites that rest from a run).
# Prints "ok NAME" or "FAILED NAME" with the differences, then "N passed, M failed".

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
cases=$here/cases

usage() {
    echo "usage: run.sh --host native|wine --exe PATH [--prefix DIR] [--only NAME]... [--update] [--timing]" >&2
    echo "       [--capture CAPTURE_EXE]" >&2
    exit 2
}

host='' exe='' prefix='' update=0 timing=0 capture_exe=
only=()
while (($#)); do
    case $1 in
    --host) host=${2:-}; shift 2 || usage ;;
    --exe) exe=${2:-}; shift 2 || usage ;;
    --prefix) prefix=${2:-}; shift 2 || usage ;;
    --only) only+=("${2:-}"); shift 2 || usage ;;
    --update) update=1; shift ;;
    --timing) timing=1; shift ;;
    --capture) capture_exe=${2:-}; shift 2 || usage ;;
    *) usage ;;
    esac
done
[[ $host == native || $host == wine ]] || usage
[[ -n $exe ]] || usage
exe_arg=$exe
exe=$(realpath -e -- "$exe" 2>/dev/null) || { echo "run.sh: no program at $exe_arg" >&2; exit 2; }
if ((update)) && [[ $host != native && -z $capture_exe ]]; then
    echo "run.sh: --update takes the native host's results only" >&2
    exit 2
fi

roundtrip=0
if [[ -n $capture_exe && $host == wine ]]; then
    roundtrip=1
    capture_arg=$capture_exe
    capture_exe=$(realpath -e -- "$capture_exe" 2>/dev/null) ||
        { echo "run.sh: no capture program at $capture_arg" >&2; exit 2; }
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/rs-scenarios.XXXXXX") || exit 2
own_prefix=0
cleanup() {
    if [[ $host == wine && -n $prefix ]]; then
        "$repo/tools/wine/prefix.sh" stop "$prefix" >/dev/null 2>&1
        ((own_prefix)) && rm -rf -- "$prefix"
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if [[ $host == wine ]]; then
    if [[ -z $prefix ]]; then
        prefix=$tmp/prefix
        own_prefix=1
    fi
    prefix=$(realpath -m -- "$prefix")
    "$repo/tools/wine/prefix.sh" create "$prefix" >/dev/null || {
        echo "run.sh: cannot make the Wine prefix $prefix" >&2
        exit 2
    }
    "$repo/tools/wine/prefix.sh" hold "$prefix"
    export RSW_SERVER_HELD=1
fi

# What prepare scripts may copy into a machine: RS_STANDINS, the built stand-ins of the agent's
# components for the host that runs (the Windows DLLs and programs under Wine), and RS_TOOLS, the
# native tools (encipher). Both may be given in the environment; by default they are taken from
# the build folders beside the program and the native debug build. RS_HOST tells prepare and
# check scripts which host runs (native or wine).
exe_dir=$(dirname -- "$exe")
if ((roundtrip)); then
    export RS_STANDINS=${RS_STANDINS:-$(dirname -- "$capture_exe")/tools/standins}
    RS_TOOLS=${RS_TOOLS:-$exe_dir/tools/standins}
else
    export RS_STANDINS=${RS_STANDINS:-$exe_dir/tools/standins}
fi
if [[ -z ${RS_TOOLS:-} ]]; then
    if [[ $host == native ]]; then RS_TOOLS=$exe_dir/tools/standins; else RS_TOOLS=$repo/build/debug/tools/standins; fi
fi
export RS_TOOLS
# The loopback HTTP server that scenarios start as the agent's services (a Linux program: Wine
# runs share the host's loopback).
export RS_TESTSERVER=${RS_TESTSERVER:-$(dirname -- "$RS_TOOLS")/testserver/testserver}
export RS_REPO=$repo
export RS_HOST=$host
# For check scripts that run the program once more (lib/again.sh).
export RS_EXE=$exe RS_PREFIX=$prefix

shopt -s nullglob globstar nocaseglob

# The activity log as scenarios state it: no CR, no date-time field, no header date.
normalise_log() {
    local line
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        if [[ $line == '#Date: '* || $line == '#Date:' ]]; then
            line='#Date:'
        elif [[ $line != '#'* && $line == *$'\t'* ]]; then
            line=${line#*$'\t'}
        fi
        printf '%s\n' "$line"
    done <"$1"
}

# Large logs go through coreutils rather than a line-by-line loop: header lines are only ever at
# the start of a log that a run began, so they are taken apart from the records.
normalise_large_log() {
    local size
    size=$(stat -c %s -- "$1") || return 1
    if ((size < 200000)); then
        normalise_log "$1"
        return
    fi
    tr -d '\r' <"$1" | {
        local line
        while IFS= read -r line; do
            if [[ $line == '#'* ]]; then
                [[ $line == '#Date: '* ]] && line='#Date:'
                printf '%s\n' "$line"
            else
                printf '%s\n' "${line#*$'\t'}"
                break
            fi
        done
        cut -f2-
    }
}

# At most 60 lines of file $1, so that a broken run cannot bury the report.
excerpt() {
    local total
    total=$(wc -l <"$1")
    head -n 60 -- "$1"
    ((total > 60)) && echo "    ... ($((total - 60)) more lines)"
    return 0
}

check_files() {
    local list=$1 machine=$2 line path text status=0
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        [[ -z $line || $line == '#'* ]] && continue
        if [[ $line == '!'* ]]; then
            path=${line#!}
            [[ ! -e $machine/$path ]] || { echo "    $path exists"; status=1; }
            continue
        fi
        path=${line%%$'\t'*}
        if [[ ! -f $machine/$path ]]; then
            echo "    no file $path"
            status=1
        elif [[ $line == *$'\t'* ]]; then
            text=${line#*$'\t'}
            local content
            content=$(tr -d '\0' <"$machine/$path")
            [[ $content == *"$text"* ]] || { echo "    $path does not contain: $text"; status=1; }
        fi
    done <"$list"
    return "$status"
}

# What a run did that the journal shows, as the round trip compares it: programs started, the
# restart request, event records, tasks enabled or disabled, posts; process ids and the loopback
# services' ports masked (ports change from run to run; a pinned difference must not).
# The exporter's text-file folder, made in every machine of a native run: after a run that reached
# its end line ("END", or "Application stopped." after a restart request) rebootscheduler.prom
# must pass promtool and agree with the run's log and journal; after any other, none may exist.
metrics_folder='drives/c/Program Files/windows_exporter/textfile_inputs'
check_metrics() { # MACHINE NORMALISED_LOG EXIT_CODE MODE
    local file="$1/$metrics_folder/rebootscheduler.prom" mode=$4 last='' status=0 code seconds
    [[ -f $2 ]] && last=$(tail -n 1 -- "$2" | cut -f4)
    # A run whose log folder it may not write (no log at all) ends as any other: its metrics
    # have no log to agree with, and must pass promtool.
    if [[ ! -s $2 && -e $file ]]; then
        promtool check metrics <"$file"
        return
    fi
    sample() { awk -v name="$1" '$1 == name { print $2 }' "$file"; }
    want() {
        [[ $(sample "$1") == "$2" ]] || { echo "metrics: $1 is \"$(sample "$1")\", expected \"$2\""; status=1; }
    }
    if [[ ! ($mode == RBT || $mode == RBTASSESS) || ! ($last == END || $last == 'Application stopped.') ]]; then
        [[ ! -e $file ]] || { echo "metrics written by a run that did not reach its end line"; return 1; }
        return 0
    fi
    if grep -q $'\tWriteRunMetrics\tERROR\t' "$2"; then
        [[ ! -e $file ]] || { echo "metrics written although the run says they were not"; return 1; }
        return 0
    fi
    [[ -f $file ]] || { echo "no rebootscheduler.prom"; return 1; }
    promtool check metrics <"$file" || status=1
    want "rebootscheduler_last_run_exit_code{mode=\"$mode\"}" "$3"
    code=$(sed -n 's/^ModRegistry\tfncRebootPending\tINFO\tReboot registry return status - \([0-9]*\)\t.*/\1/p' "$2" | tail -n 1)
    [[ -z $code ]] || want rebootscheduler_reboot_required "$((code == 0))"
    seconds=$(sed -n 's/.*\tSystem Up time is \[ \(-\?[0-9]*\) \]\t.*/\1/p' "$2" | tail -n 1)
    [[ -z $seconds ]] || want rebootscheduler_uptime_seconds "$seconds"
    case $3 in
    5) want rebootscheduler_restart_refused 0 ;;
    6) want rebootscheduler_restart_refused 1 ;;
    8) want rebootscheduler_restart_guard_holding 1 ;;
    esac
    if grep -q '^ShellExecuteEx .*Quillon\.exe' "$1/journal.log" 2>/dev/null; then
        [[ -n $(sample rebootscheduler_last_assessment_start_timestamp_seconds) ]] ||
            { echo "metrics: no assessment start"; status=1; }
    fi
    return "$status"
}

effects() {
    [[ -f $1 ]] || return 0
    grep -E '^(ShellExecuteEx|CreateProcessAsUser|InitiateSystemShutdown|ReportEvent|Task |PostXMLString|HttpPost) ' -- "$1" |
        sed -E 's/pid=[0-9]+/pid=N/g' | mask_ports
}
mask_ports() { sed -E 's/127\.0\.0\.1:[0-9]+/127.0.0.1:PORT/g'; }

# What a run wrote to the activity log of machine $1, normalised, given the log's size before the
# run ($2): the part after it when the run appended, the whole log when it began another.
log_written() {
    local logs=("$1"/drives/c/**/wppatchSch_*_patchlog.log)
    ((${#logs[@]} == 1)) || { echo "(${#logs[@]} activity logs)"; return 0; }
    local size
    size=$(stat -c %s -- "${logs[0]}")
    if (($2 > 0 && size >= $2)) && cmp -s -n "$2" -- "${logs[0]}" "$1.log-before"; then
        tail -c +$(($2 + 1)) -- "${logs[0]}" >"$1.log-written"
    else
        cp -- "${logs[0]}" "$1.log-written"
    fi
    normalise_large_log "$1.log-written" | mask_ports
}

# Keeps the activity log of machine $1 as it is before a run; prints its size (0 without one).
log_before() {
    local logs=("$1"/drives/c/**/wppatchSch_*_patchlog.log)
    if ((${#logs[@]} == 1)); then
        cp -- "${logs[0]}" "$1.log-before" && stat -c %s -- "${logs[0]}"
    else
        echo 0
    fi
}

# The facts of machine.ini that a Wine prefix is not given (its clock and up-time are the host's):
# the native run takes them from the capture ($1) into its machine ($2), the values it had going.
take_time_facts() {
    local facts
    facts=$(awk 'BEGIN { IGNORECASE = 1 }
        /^[ \t]*\[/ { section = $0; gsub(/^[ \t]*\[|\][ \t\r]*$/, "", section); next }
        (section ~ /^Clock$/ && $0 ~ /^Now=/) ||
        (section ~ /^System$/ && $0 ~ /^(TickCount64|LastBootUpTime|SystemUpTime)=/) {
            sub(/\r$/, ""); printf "[%s]\r\n%s\r\n", section, $0 }' "$1/machine.ini") || return 1
    [[ -f $2/machine.ini ]] || : >"$2/machine.ini"
    awk 'BEGIN { IGNORECASE = 1 }
        /^[ \t]*\[/ { section = $0; gsub(/^[ \t]*\[|\][ \t\r]*$/, "", section) }
        (section ~ /^Clock$/ && $0 ~ /^[ \t]*Now[ \t]*=/) ||
        (section ~ /^System$/ && $0 ~ /^[ \t]*(TickCount64|LastBootUpTime|SystemUpTime)[ \t]*=/) { next }
        { print }' "$2/machine.ini" >"$2/machine.ini.new" &&
        printf '\r\n%s' "$facts" >>"$2/machine.ini.new" && mv -f -- "$2/machine.ini.new" "$2/machine.ini"
}

# The round trip of one case (see --capture above); adds to problems and details.
roundtrip_case() {
    local native=$run_dir/native/machine prepared=$run_dir/wine/prepared wine=$run_dir/wine/machine
    local capture=$run_dir/wine/capture status file machine
    mkdir -p -- "$run_dir/native" "$run_dir/wine"
    # Prepared twice, each with services of its own (whose answers may come in a sequence), at
    # one time (RS_PREPARE_NOW: the times that prepare scripts write are the same in both).
    local RS_PREPARE_NOW
    RS_PREPARE_NOW=$(date +%s)
    export RS_PREPARE_NOW
    for machine in "$native" "$prepared"; do
        cp -a -- "$case_dir/machine" "$machine" || { problems+=("cannot copy the machine folder"); return; }
        if [[ -f $case_dir/prepare ]] &&
            ! RS_HOST=native RS_STANDINS=$RS_TOOLS bash "$case_dir/prepare" "$machine" >"$run_dir/prepare.out" 2>&1; then
            problems+=("prepare failed:")
            excerpt "$run_dir/prepare.out" >>"$details"
            return
        fi
    done
    # Wine's machine has the Windows stand-ins where the native one has the Linux ones.
    cp -a -- "$prepared" "$wine" || { problems+=("cannot copy the prepared machine"); return; }
    while IFS= read -r file; do
        [[ -f $RS_STANDINS/${file##*/} ]] && cp -- "$RS_STANDINS/${file##*/}" "$wine/$file"
    done < <(cd "$prepared" && find drives -type f \( -iname '*.exe' -o -iname '*.dll' \))
    "$repo/tools/wine/run-machine.sh" "$prefix" "$capture_exe" "$wine" 'C:\rs-capture' --no-redact \
        </dev/null >"$run_dir/capture.out" 2>&1
    status=$?
    local captured=$wine/drives/c/rs-capture
    if [[ $status != 0 || ! -f $captured/capture.ini ]]; then
        problems+=("the capture under Wine failed ($status):")
        excerpt "$run_dir/capture.out" >>"$details"
        return
    fi
    mv -- "$captured" "$capture" &&
        "$here/capture-roundtrip.sh" --complete "$capture" "$prepared" >"$run_dir/complete.out" 2>&1 &&
        take_time_facts "$capture" "$native" >>"$run_dir/complete.out" 2>&1 || {
        problems+=("the capture could not be completed:")
        excerpt "$run_dir/complete.out" >>"$details"
        return
    }
    local exits=() sizes=()
    for machine in "$native" "$capture"; do
        sizes+=("$(log_before "$machine")")
        (cd "$(dirname -- "$machine")" && REBOOTSCHEDULER_MACHINE=$machine exec timeout 300 "$exe" "${words[@]}") \
            </dev/null >"$machine.output" 2>&1
        exits+=($?)
    done
    local report=$run_dir/report
    {
        ((exits[0] == exits[1])) || echo "exit code ${exits[1]} after the capture, ${exits[0]} natively"
        diff -U0 --label native --label capture <(log_written "$native" "${sizes[0]}") \
            <(log_written "$capture" "${sizes[1]}") | sed '1,2s/^/log /'
        diff -U0 --label native --label capture <(effects "$native/journal.log") \
            <(effects "$capture/journal.log") | sed '1,2s/^/effects /'
    } >"$report"
    if [[ -f $case_dir/wine-capture-differs ]]; then
        if ((update)); then
            { head -n 1 -- "$case_dir/wine-capture-differs" && cat -- "$report"; } >"$run_dir/pinned" &&
                mv -f -- "$run_dir/pinned" "$case_dir/wine-capture-differs"
        elif ! diff -u --label wine-capture-differs --label actual <(tail -n +2 -- "$case_dir/wine-capture-differs") \
            "$report" >"$run_dir/report.diff"; then
            problems+=("differs otherwise than wine-capture-differs pins:")
            excerpt "$run_dir/report.diff" >>"$details"
        fi
    elif [[ -s $report ]]; then
        problems+=("the run on the capture differs from the native run:")
        excerpt "$report" >>"$details"
    fi
}

passed=0 failed=0 matched=0
for case_dir in "$cases"/*/; do
    case_dir=${case_dir%/}
    name=${case_dir##*/}
    [[ -d $case_dir/machine ]] || continue
    if [[ -f $case_dir/hosts ]] && ! grep -qw -- "$host" "$case_dir/hosts"; then continue; fi
    if [[ -n $capture_exe && $host == native && -f $case_dir/capture-differs ]]; then continue; fi
    if ((${#only[@]})); then
        selected=0
        for wanted in "${only[@]}"; do [[ $name == "$wanted" ]] && selected=1; done
        ((selected)) || continue
    fi
    matched=$((matched + 1))
    started=${EPOCHREALTIME/[.,]/}

    run_dir=$tmp/$name
    machine=$run_dir/machine
    mkdir -p -- "$run_dir"
    problems=()
    details=$run_dir/details
    : >"$details"

    words=()
    if [[ -f $case_dir/args ]]; then
        read -r -a words <"$case_dir/args"
        words=("${words[@]%$'\r'}")
    fi

    max_seconds=300
    [[ -f $case_dir/max-seconds ]] && max_seconds=$(tr -d ' \r\n' <"$case_dir/max-seconds")
    exit_code=
    metrics=0
    if ((roundtrip)); then
        roundtrip_case
    elif ! cp -a -- "$case_dir/machine" "$machine"; then
        problems+=("cannot copy the machine folder")
    elif [[ -f $case_dir/prepare ]] && ! bash "$case_dir/prepare" "$machine" >"$run_dir/prepare.out" 2>&1; then
        problems+=("prepare failed:")
        excerpt "$run_dir/prepare.out" >>"$details"
    elif [[ -n $capture_exe ]] &&
        ! "$here/capture-roundtrip.sh" "$machine" "$capture_exe" >"$run_dir/capture.out" 2>&1; then
        problems+=("capture failed:")
        excerpt "$run_dir/capture.out" >>"$details"
    elif [[ $host == native ]]; then
        metrics=0
        [[ -z $capture_exe ]] && mkdir -p -- "$machine/$metrics_folder" && metrics=1
        (cd "$run_dir" && REBOOTSCHEDULER_MACHINE=$machine exec timeout "$max_seconds" "$exe" "${words[@]}") \
            </dev/null >"$run_dir/output" 2>&1
        exit_code=$?
    else
        tracing=()
        [[ -f $case_dir/winedebug ]] && tracing=("WINEDEBUG=$(tr -d '\r\n' <"$case_dir/winedebug")")
        env "${tracing[@]}" RSW_RUN_SECONDS="$max_seconds" "$repo/tools/wine/run-machine.sh" "$prefix" "$exe" "$machine" "${words[@]}" \
            </dev/null >"$run_dir/output" 2>&1
        status=$?
        if [[ -f $machine/exit-code ]]; then
            exit_code=$(<"$machine/exit-code")
        else
            problems+=("run-machine.sh failed ($status):")
            excerpt "$run_dir/output" >>"$details"
        fi
    fi

    if [[ -n $exit_code ]]; then
        logs=("$machine"/drives/c/**/wppatchSch_*_patchlog.log)
        log=
        normalised=$run_dir/log.normalised
        if ((${#logs[@]} > 1)); then
            problems+=("more than one activity log: ${logs[*]#"$machine/"}")
        elif ((${#logs[@]} == 1)); then
            log=${logs[0]}
            normalise_large_log "$log" >"$normalised"
        fi

        if ((update)); then
            if [[ -f $case_dir/expected.log || -f $case_dir/expected.nolog ]]; then
                if [[ -n $log ]]; then
                    cp -- "$normalised" "$case_dir/expected.log"
                    rm -f -- "$case_dir/expected.nolog"
                else
                    : >"$case_dir/expected.nolog"
                    rm -f -- "$case_dir/expected.log"
                fi
            fi
            printf '%s\n' "$exit_code" >"$case_dir/expected.exit"
        fi

        if [[ -f $case_dir/expected.nolog && -n $log ]]; then
            problems+=("an activity log exists: ${log#"$machine/"}")
            excerpt "$normalised" >>"$details"
        fi
        if [[ -f $case_dir/expected.log ]]; then
            if [[ -z $log ]]; then
                problems+=("no activity log")
            elif ! diff -u --label expected.log --label actual "$case_dir/expected.log" "$normalised" \
                >"$run_dir/log.diff"; then
                problems+=("activity log differs:")
                excerpt "$run_dir/log.diff" >>"$details"
            fi
        fi
        if [[ -f $case_dir/expected.exit ]]; then
            expected_exit=$(tr -d ' \r\n' <"$case_dir/expected.exit")
            [[ $exit_code == "$expected_exit" ]] ||
                problems+=("exit code $exit_code, expected $expected_exit")
        fi
        if [[ -f $case_dir/expected.output ]]; then
            if ! diff -u --label expected.output --label actual "$case_dir/expected.output" \
                "$run_dir/output" >"$run_dir/output.diff"; then
                problems+=("output differs:")
                excerpt "$run_dir/output.diff" >>"$details"
            fi
        elif [[ -s $run_dir/output && ! ($host == wine && -f $case_dir/winedebug) ]]; then
            problems+=("printed:")
            excerpt "$run_dir/output" >>"$details"
        fi
        if [[ -f $case_dir/expected.files ]]; then
            if ! check_files "$case_dir/expected.files" "$machine" >"$run_dir/files.out"; then
                problems+=("files:")
                excerpt "$run_dir/files.out" >>"$details"
            fi
        fi
        if ((metrics)); then
            mode=$(printf '%s' "${words[*]}" | tr -d '"' | tr '[:lower:]' '[:upper:]')
            if ! check_metrics "$machine" "$normalised" "$exit_code" "${mode// /}" >"$run_dir/metrics.out" 2>&1; then
                problems+=("metrics:")
                excerpt "$run_dir/metrics.out" >>"$details"
            fi
        fi
        if [[ -f $case_dir/check ]]; then
            if ! RS_OUTPUT=$run_dir/output bash "$case_dir/check" "$machine" "$normalised" \
                >"$run_dir/check.out" 2>&1; then
                problems+=("check failed:")
                excerpt "$run_dir/check.out" >>"$details"
            fi
        fi
    fi

    for pid_file in "$run_dir"/*/pid "$run_dir"/*/*/pid; do
        pid=$(<"$pid_file") && [[ $pid =~ ^[0-9]+$ ]] && kill "$pid" 2>/dev/null
    done

    took=
    if ((timing)); then
        elapsed=$((${EPOCHREALTIME/[.,]/} - started))
        took=$(printf ' %d.%02ds' $((elapsed / 1000000)) $((elapsed % 1000000 / 10000)))
    fi
    if ((${#problems[@]} == 0)); then
        passed=$((passed + 1))
        echo "ok $name$took"
    else
        failed=$((failed + 1))
        echo "FAILED $name$took"
        for problem in "${problems[@]}"; do echo "  $problem"; done
        [[ -s $details ]] && cat -- "$details"
    fi
    rm -rf -- "$run_dir"
done

if ((${#only[@]} && matched == 0)); then
    echo "run.sh: no scenario named ${only[*]}" >&2
    exit 2
fi
echo "$passed passed, $failed failed"
((failed == 0))
