# run_again MACHINE [ARGS...]: for check scripts, the program run once more on the machine folder
# after the case's run, on the host that ran it (RS_HOST, RS_EXE and RS_PREFIX come from run.sh),
# within 300 seconds. Prints the exit code; the activity log and the files are the machine's.
run_again() {
    local machine=$1 status
    shift
    if [[ $RS_HOST == wine ]]; then
        RSW_RUN_SECONDS=300 "$RS_REPO/tools/wine/run-machine.sh" "$RS_PREFIX" "$RS_EXE" "$machine" "$@" \
            </dev/null >"$machine.again.out" 2>&1
        status=$?
        [[ -f $machine/exit-code ]] && status=$(<"$machine/exit-code")
    else
        (cd "$(dirname -- "$machine")" && REBOOTSCHEDULER_MACHINE=$machine exec timeout 300 "$RS_EXE" "$@") \
            </dev/null >"$machine.again.out" 2>&1
        status=$?
    fi
    echo "$status"
}
