# Helpers for the assessment scenarios (RBTASSESS). Sourced by prepare and check scripts;
# RS_STANDINS, RS_REPO, RS_HOST and RS_PREPARE_NOW (see agent.sh) come from run.sh.
patch_folder=drives/c/Agent/BaseComponents/PatchManagement

# install_patch_program MACHINE: the stand-in patch program at
# C:\Agent\BaseComponents\PatchManagement\Quillon.exe; it records each run in Quillon.runs beside it.
install_patch_program() {
    local from=$RS_STANDINS/Quillon.exe
    [[ -f $from ]] || from=$RS_STANDINS/Quillon
    mkdir -p -- "$1/$patch_folder" && cp -- "$from" "$1/$patch_folder/Quillon.exe"
}

# last_scan_ago MACHINE SECONDS: the patch agent's scan-date file, its last scan SECONDS before now
# in the local time, written as a United States Windows writes it (3/8/2021 1:05:09 PM).
last_scan_ago() {
    mkdir -p -- "$1/$patch_folder/ScanFld"
    printf '[ScandateTime]\r\nLastScandate=%s\r\n' "$(date -d "@$((${RS_PREPARE_NOW:-$(date +%s)} - $2))" '+%-m/%-d/%Y %-I:%M:%S %p')" \
        >"$1/$patch_folder/ScanFld/PatchScanDate.ini"
}

# masked_log LOG: the normalised log with the numbers that depend on the real clock and up-time
# replaced by N, and the last scan's date-time text by DATE.
masked_log() {
    sed -E -e 's/System Up time is \[ -?[0-9]+ \]/System Up time is [ N ]/' \
        -e 's/(in Seconds +: )-?[0-9]+/\1N/g' \
        -e 's/(Last Assess Scan date : )[^\t]*/\1DATE/' "$1"
}

# compare_masked EXPECTED LOG: the masked log against EXPECTED; prints the differences.
compare_masked() {
    diff -u --label expected --label actual "$1" <(masked_log "$2")
}

# runs_of MACHINE: the lines the stand-in patch program recorded (none when it never ran).
runs_of() {
    local file=$1/$patch_folder/Quillon.runs
    [[ -f $file ]] && tr -d '\r' <"$file"
    return 0
}
