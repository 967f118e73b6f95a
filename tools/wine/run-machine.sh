#!/usr/bin/env bash
# Runs the Windows program once under Wine on a machine folder, the way the emulated host runs the
# Linux build on it, so that one scenario drives both and their results compare alike.
#
#   run-machine.sh PREFIX EXE MACHINE_FOLDER [ARGS...]
#
# 1. Registry: the keys scenarios own are deleted, then MACHINE/registry/HKLM.reg is imported
#    (as UTF-16 with a byte-order mark: Wine reads a file without one in the ANSI code page).
# 2. Files: MACHINE/drives/c/<X> is PREFIX/drive_c/<X>. Wine keeps its own "windows",
#    "Program Files", "Program Files (x86)", "ProgramData" and "users": inside those (and inside
#    any folder of theirs the machine has too) the machine's entries are placed one by one; every
#    other entry, and ProgramData/VERUZE always, is the machine's alone. What an earlier run
#    placed goes, and the Wine files it covered come back, before the next run.
# 3. Environment: [Environment] of MACHINE/machine.ini is the program's environment. The program is
#    started by launcher.exe, which sets the values itself: Wine would otherwise replace profile
#    variables such as ALLUSERSPROFILE by its own.
# 4. Processes: each [Processes] entry naming RebootScheduler (any case) runs as a sleeping copy of
#    sleeper.exe with exactly that file name during the run. Other entries are not started.
# 5. The program runs with drive_c as its current folder. Once every Wine process of the run has
#    ended, the files come back into MACHINE/drives/c (replacing the machine's copies: files the
#    program made, changed or deleted show there), and the exit code goes to MACHINE/exit-code.
#
# 6. Components: when RS_STANDINS names a folder with the agent's COM stand-ins (XmlEncryptor.dll,
#    Postbird.dll), they are registered in the prefix where they lie, by the regsvr32 of their own
#    bitness (SysWOW64's for the i686 servers that the shipping 32-bit program needs), once per
#    prefix, bitness and folder: a later run with the same folder registers nothing
#    (register-standins.sh does it by hand).
#
# Exit status: the program's exit code; 125 when the run itself could not be set up.
# Environment: RSW_RUN_SECONDS bounds the program's run (default 600; then exit code 124);
# RSW_SLEEPER_EXE / RSW_LAUNCHER_EXE take prebuilt helpers instead of building them
# with x86_64-w64-mingw32-gcc; RSW_SERVER_HELD=1 says the caller keeps the wineserver running
# (prefix.sh hold), so only the run's own processes are waited for; see prefix.sh for the rest.

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tools/wine/prefix.sh
. "$here/prefix.sh"

fail() {
    echo "run-machine.sh: $*" >&2
    exit 125
}

(($# >= 3)) || fail "usage: run-machine.sh PREFIX EXE MACHINE_FOLDER [ARGS...]"
prefix_arg=$1
exe=$(realpath -e -- "$2" 2>/dev/null) || fail "no program at $2"
machine=$(realpath -e -- "$3" 2>/dev/null) || fail "no machine folder at $3"
[[ -d $machine ]] || fail "$3 is not a folder"
shift 3

shopt -s nullglob dotglob

rsw_create_prefix "$prefix_arg" || fail "cannot make the Wine prefix $prefix_arg"
drive_c=$WINEPREFIX/drive_c
machine_c=$machine/drives/c
work=$WINEPREFIX/rsw-run
tools=$WINEPREFIX/rsw-tools
placed_list=$WINEPREFIX/.rsw-placed

# One run at a time in a prefix. Wine commands run without descriptor 9 (see rsw_wine).
if command -v flock >/dev/null; then
    exec 9>"$WINEPREFIX/.rsw-lock"
    flock -w 900 9 || fail "the prefix $WINEPREFIX stays busy"
fi

rm -f -- "$machine/exit-code"
rm -rf -- "$work"
mkdir -p -- "$work" "$tools" || fail "cannot write into $WINEPREFIX"

# --- machine.ini ---------------------------------------------------------------------------------

# Prints "name<TAB>value" for each entry of section $1, in file order (trimmed, as the emulated
# host reads them; names and sections without regard to case).
ini_section() {
    local want=${1,,} line section='' name value
    [[ -f $machine/machine.ini ]] || return 0
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        line=${line#"${line%%[![:space:]]*}"}
        line=${line%"${line##*[![:space:]]}"}
        [[ -z $line || $line == \;* || $line == \#* ]] && continue
        if [[ $line == \[*\] ]]; then
            section=${line:1:-1}
            section=${section#"${section%%[![:space:]]*}"}
            section=${section%"${section##*[![:space:]]}"}
            continue
        fi
        [[ ${section,,} == "$want" && $line == *=* ]] || continue
        name=${line%%=*}
        value=${line#*=}
        name=${name%"${name##*[![:space:]]}"}
        value=${value#"${value%%[![:space:]]*}"}
        printf '%s\t%s\n' "$name" "$value"
    done <"$machine/machine.ini"
}

# --- helpers -------------------------------------------------------------------------------------

# Builds tools/wine/$1.c into the prefix unless a current copy is there; prints the .exe path.
helper_exe() {
    local name=$1 source=$here/$1.c out=$tools/$1.exe
    if [[ ! -f $out || $source -nt $out ]]; then
        x86_64-w64-mingw32-gcc -O2 -Wall -o "$out.tmp" "$source" >&2 || return 1
        mv -f -- "$out.tmp" "$out"
    fi
    printf '%s\n' "$out"
}

sleeper=${RSW_SLEEPER_EXE:-}
launcher=${RSW_LAUNCHER_EXE:-}
[[ -n $sleeper ]] || sleeper=$(helper_exe sleeper) || fail "cannot build sleeper.exe"
[[ -n $launcher ]] || launcher=$(helper_exe launcher) || fail "cannot build launcher.exe"

# --- files ---------------------------------------------------------------------------------------
#
# Paths below are relative to drive C ("" is its root). Where the machine has a folder that Wine
# has too, the machine's entries go inside it one by one, deeper as long as both sides have the
# folder; every other machine entry is copied whole. A Wine entry that a machine entry replaces is
# put aside and comes back at the start of the next run, as everything placed goes away then.

owned_names=(windows "Program Files" "Program Files (x86)" ProgramData users)
always_synced=ProgramData/VERUZE    # the agent's data folder: always the machine's, even absent
saved_root=$WINEPREFIX/rsw-saved
saved_list=$WINEPREFIX/.rsw-saved

is_owned_top() {
    local name
    for name in "${owned_names[@]}"; do [[ ${1,,} == "${name,,}" ]] && return 0; done
    return 1
}

# The entries of folder $1 named $2 without regard to case (Linux may hold more than one).
matches() {
    local entry base want=${2,,}
    for entry in "$1"/*; do
        base=${entry##*/}
        [[ ${base,,} == "$want" ]] && printf '%s\n' "$entry"
    done
}

remove_matches() {
    local entry
    while IFS= read -r entry; do
        [[ -n $entry ]] && rm -rf -- "$entry"
    done < <(matches "$1" "$2")
}

parent_of() { [[ $1 == */* ]] && printf '%s\n' "${1%/*}" || printf '\n'; }
under() { printf '%s\n' "$1${2:+/$2}"; }    # folder $1, relative path $2

# Bash keys cannot be empty: these arrays key each path with a leading "/" ("/" is the root).
declare -A sync=()     # /prefix path -> machine folder (relative) it comes back into
declare -A merged=()   # folders both sides have: /prefix path -> machine path

# Undoes what an earlier run placed: its entries go, Wine's own entries come back.
restore_prefix() {
    local rel entry
    if [[ -f $placed_list ]]; then
        while IFS= read -r rel; do
            [[ -n $rel && /$rel/ != */../* ]] || continue
            remove_matches "$(under "$drive_c" "$(parent_of "$rel")")" "${rel##*/}"
        done <"$placed_list"
    fi
    if [[ -f $saved_list ]]; then
        while IFS= read -r rel; do
            [[ -n $rel && /$rel/ != */../* && -e $saved_root/$rel ]] || continue
            mkdir -p -- "$(under "$drive_c" "$(parent_of "$rel")")"
            rm -rf -- "${drive_c:?}/$rel"
            mv -- "$saved_root/$rel" "$drive_c/$rel" || return 1
        done <"$saved_list"
    fi
    rm -rf -- "$saved_root" "$saved_list" "$placed_list"
    # Whatever else stands at the top beside Wine's folders belongs to no machine.
    for entry in "$drive_c"/*; do
        is_owned_top "${entry##*/}" || rm -rf -- "$entry"
    done
    remove_matches "$drive_c/ProgramData" VERUZE
}

# Places the entries of machine folder $1 into prefix folder $2.
place_children() {
    local mdir=$1 pdir=$2 entry name existing prel
    for entry in "$(under "$machine_c" "$mdir")"/*; do
        name=${entry##*/}
        existing=$(matches "$(under "$drive_c" "$pdir")" "$name" | head -n 1)
        if [[ -n $existing && -d $entry && -d $existing && ! -L $existing ]]; then
            prel=${pdir:+$pdir/}${existing##*/}
            if [[ ${prel,,} != "${always_synced,,}" ]]; then
                merged[/$prel]=${mdir:+$mdir/}$name
                place_children "${mdir:+$mdir/}$name" "$prel" || return 1
                continue
            fi
        fi
        if [[ -z $pdir ]] && is_owned_top "$name"; then
            echo "run-machine.sh: drives/c/$name must be a folder; left out" >&2
            continue
        fi
        while IFS= read -r existing; do
            [[ -n $existing ]] || continue
            prel=${pdir:+$pdir/}${existing##*/}
            mkdir -p -- "$(under "$saved_root" "$pdir")"
            mv -- "$existing" "$saved_root/$prel" || return 1
            printf '%s\n' "$prel" >>"$saved_list"
        done < <(matches "$(under "$drive_c" "$pdir")" "$name")
        mkdir -p -- "$(under "$drive_c" "$pdir")"
        cp -a -- "$entry" "$(under "$drive_c" "$pdir")/" || return 1
        sync[/${pdir:+$pdir/}$name]=$mdir
    done
}

place_files() {
    local name prel child
    restore_prefix || return 1
    merged[/]=""
    for name in "${owned_names[@]}"; do merged[/$name]=$name; done
    place_children "" "" || return 1
    # The machine spelling of Wine's folders where the machine has them.
    for name in "${owned_names[@]}"; do
        child=$(matches "$machine_c" "$name" | head -n 1)
        [[ -n $child ]] && merged[/$name]=${child##*/}
    done
    local found=
    for prel in "${!sync[@]}"; do [[ ${prel,,} == "/${always_synced,,}" ]] && found=1; done
    [[ -n $found ]] || sync[/$always_synced]=${merged[/ProgramData]}
    # Written now as well, so that a run that stops half-way is still undone by the next.
    write_placed_list

    # What the shared folders hold now, so that entries the program adds come back too.
    for prel in "${!merged[@]}"; do
        prel=${prel#/}
        for child in "$(under "$drive_c" "$prel")"/*; do
            printf '%s\n' "${prel:+$prel/}${child##*/}"
        done
    done >"$work/before"
}

write_placed_list() {
    local prel
    for prel in "${!sync[@]}"; do printf '%s\n' "${prel#/}"; done >"$placed_list"
}

bring_back_files() {
    local key prel child name target entry
    for key in "${!merged[@]}"; do
        prel=${key#/}
        for child in "$(under "$drive_c" "$prel")"/*; do
            name=${prel:+$prel/}${child##*/}
            grep -qxF -- "$name" "$work/before" || sync[/$name]=${merged[$key]}
        done
    done
    mkdir -p -- "$machine_c" || return 1
    for key in "${!sync[@]}"; do
        prel=${key#/}
        name=${prel##*/}
        target=$(under "$machine_c" "${sync[$key]}")
        [[ -d $target ]] && remove_matches "$target" "$name"
        while IFS= read -r entry; do
            [[ -n $entry ]] || continue
            mkdir -p -- "$target"
            cp -a -- "$entry" "$target/" || return 1
        done < <(matches "$(under "$drive_c" "$(parent_of "$prel")")" "$name")
    done
    write_placed_list
}

# --- registry ------------------------------------------------------------------------------------

owned_keys=(
    'HKLM\SOFTWARE\VERUZE'
    'HKLM\SOFTWARE\WOW6432Node\VERUZE'
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired'
    'HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired'
    'HKLM\SOFTWARE\Policies\Microsoft\Windows\WindowsUpdate'
    'HKLM\SOFTWARE\WOW6432Node\Policies\Microsoft\Windows\WindowsUpdate'
)
# Values of Wine's own keys that scenarios own: KEY|VALUE. The 32-bit view's product name is the
# machine's, as on the emulated host (none unless its HKLM.reg gives one), so that a machine that
# sets it for one run does not leave it to the next.
owned_values=(
    'HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows NT\CurrentVersion|ProductName'
)

load_registry() {
    local key reg=$machine/registry/HKLM.reg import=$work/HKLM.reg
    for key in "${owned_keys[@]}"; do
        rsw_wine reg delete "$key" /f >/dev/null 2>&1  # a key that is not there is fine
    done
    for key in "${owned_values[@]}"; do
        rsw_wine reg delete "${key%|*}" /v "${key##*|}" /f >/dev/null 2>&1
    done
    [[ -f $reg ]] || return 0
    if [[ $(head -c 2 -- "$reg" | od -An -tx1 | tr -d ' ') == fffe ]]; then
        cp -- "$reg" "$import"
    else
        # UTF-8 (with or without its byte-order mark) becomes UTF-16LE with one.
        { printf '\xff\xfe' && sed '1s/^\xef\xbb\xbf//' -- "$reg" | iconv -f UTF-8 -t UTF-16LE; } \
            >"$import" || {
            echo "run-machine.sh: $reg is not UTF-8 text" >&2
            return 1
        }
    fi
    if ! rsw_wine reg import "$(rsw_windows_path "$import")" >"$work/reg-import.out" 2>&1; then
        echo "run-machine.sh: Wine could not import $reg:" >&2
        cat "$work/reg-import.out" >&2
        return 1
    fi
}

# --- components ----------------------------------------------------------------------------------

# The stand-ins' classes point at the DLLs' own paths, so one registration serves every run that
# takes them from the same folder; the record in the prefix says which folder that was, one record
# for each bitness (the 32-bit and 64-bit classes live in their own views of HKCR, so both builds'
# stand-ins can be registered in one prefix at once).
register_standins() {
    local folder=${RS_STANDINS:-} bits record dll
    [[ -n $folder && -f $folder/XmlEncryptor.dll && -f $folder/Postbird.dll ]] || return 0
    folder=$(realpath -e -- "$folder") || return 1
    bits=$(rsw_pe_bits "$folder/Postbird.dll") || {
        echo "run-machine.sh: $folder/Postbird.dll is not a Windows DLL" >&2
        return 1
    }
    record=$WINEPREFIX/.rsw-standins-$bits
    [[ -f $record && $(<"$record") == "$folder" ]] && return 0
    rm -f -- "$record"
    for dll in XmlEncryptor.dll Postbird.dll; do
        WINEDEBUG=-all rsw_wine "$(rsw_regsvr32_for "$bits")" /s "$(rsw_windows_path "$folder/$dll")" \
            >"$work/regsvr32.out" 2>&1 || {
            echo "run-machine.sh: regsvr32 failed for $folder/$dll:" >&2
            cat "$work/regsvr32.out" >&2
            return 1
        }
    done
    printf '%s\n' "$folder" >"$record"
}

# --- processes -----------------------------------------------------------------------------------

sleeper_pids=()

stop_sleepers() {
    local pid
    for pid in "${sleeper_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    for pid in "${sleeper_pids[@]}"; do wait "$pid" 2>/dev/null; done
    sleeper_pids=()
}
trap stop_sleepers EXIT
trap 'exit 125' INT TERM HUP

start_sleepers() {
    local pid name number=0 folder ready deadline
    while IFS=$'\t' read -r pid name; do
        [[ ${name,,} == *rebootscheduler* ]] || continue
        name=${name##*[\\/]}
        number=$((number + 1))
        folder=$work/sleepers/$number
        mkdir -p -- "$folder"
        cp -- "$sleeper" "$folder/$name" || return 1
        ready=$folder/ready
        (cd "$drive_c" && exec "$RSW_WINE" "$folder/$name" "$(rsw_windows_path "$ready")" 600) \
            </dev/null >"$folder/out" 2>&1 9>&- &
        sleeper_pids+=($!)
        # The copy counts once it runs: it makes its ready file from inside Windows.
        deadline=$((SECONDS + 30))
        until [[ -e $ready ]]; do
            if ((SECONDS >= deadline)) || ! kill -0 "${sleeper_pids[-1]}" 2>/dev/null; then
                echo "run-machine.sh: the sleeping $name did not start:" >&2
                cat "$folder/out" >&2
                return 1
            fi
            sleep 0.05
        done
    done < <(ini_section Processes)
}

# --- the run -------------------------------------------------------------------------------------

place_files || fail "cannot place the machine's files in $drive_c"
load_registry || fail "cannot load the machine's registry"
register_standins || fail "cannot register the agent's components from $RS_STANDINS"

environment=()
environment_lines=
declare -A seen_names=()
while IFS=$'\t' read -r name value; do
    [[ -n $name && -z ${seen_names[${name,,}]:-} ]] || continue  # the first entry counts
    seen_names[${name,,}]=1
    environment+=("$name=$value")
    environment_lines+="$name=$value"$'\n'
done < <(ini_section Environment)

# [Account] UserName: Wine names the account after the Unix user of the process.
account=$(ini_section Account | awk -F'\t' 'tolower($1) == "username" { print $2; exit }')
account_environment=()
[[ -n $account ]] && account_environment=("USER=$account" "LOGNAME=$account")

start_sleepers || fail "cannot start the processes of [Processes]"

(cd "$drive_c" && exec timeout -k 10 "${RSW_RUN_SECONDS:-600}" env "${account_environment[@]}" "${environment[@]}" \
    RSW_ENVIRONMENT="$environment_lines" "$RSW_WINE" "$launcher" "$(rsw_windows_path "$exe")" "$@") 9>&-
exit_code=$?

stop_sleepers
# Files are complete once every process of the run has ended; a server that nobody holds is
# waited for too, so that it has written its registry before the next command of the caller.
rsw_wait_user_processes
[[ ${RSW_SERVER_HELD:-0} == 1 ]] || rsw_wait_server

bring_back_files || fail "cannot bring the files back into $machine_c"
printf '%s\n' "$exit_code" >"$machine/exit-code"
exit "$exit_code"
