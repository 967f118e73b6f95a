#!/usr/bin/env bash
# A 64-bit Wine prefix for the Windows programs, made once per test run and reused by every run in
# it: the shipping 32-bit program runs there as a 32-bit process on 64-bit Windows (WoW64), as on
# agents' machines, and the 64-bit build beside it.
#
# As a command:
#   prefix.sh create [PREFIX]   make the prefix unless it is ready already; print its path
#   prefix.sh hold PREFIX       keep its wineserver (and Wine's own services) running between runs
#   prefix.sh stop PREFIX       end every Wine process of the prefix and its wineserver
#   prefix.sh path              print the default prefix path
#   prefix.sh probe-wow64 PREFIX   can 32-bit Windows programs run here under WoW64? exit 0 when
#                               they can, else print the reason and exit 1
# Sourced (". tools/wine/prefix.sh"), it gives the rsw_* functions below to other scripts.
#
# Only the 64-bit loader is used (/usr/lib/wine/wine64, never the "wine" wrapper, whose choice of
# loader depends on the program and would, for instance, import registry files into the 32-bit
# view): 32-bit programs started from it run under WoW64 with Debian's wine32:i386. WINEDEBUG
# defaults to -all. The prefix has no
# display ("Graphics"="null"), which COM and the services need to start headless, and no crash
# debugger (a crash ends the program with its exception code, 0xC0000005 showing as exit code 5).
#
# Environment: RSW_WINE (loader), RSW_WINESERVER (server), WINEDEBUG; RSW_WAIT_SECONDS bounds every
# wait for Wine processes to end (default 60) before they are killed, so that no run hangs.

RSW_WINE=${RSW_WINE:-/usr/lib/wine/wine64}
RSW_WINESERVER=${RSW_WINESERVER:-/usr/lib/wine/wineserver64}
RSW_WAIT_SECONDS=${RSW_WAIT_SECONDS:-60}

rsw_default_prefix() {
    printf '%s\n' "${TMPDIR:-/tmp}/rebootscheduler-wine-$(id -u)"
}

# Exports what every Wine command of the prefix needs. $1: the prefix (absolute or relative).
rsw_use_prefix() {
    local prefix=${1:-$(rsw_default_prefix)}
    case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
    export WINEPREFIX=$prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEARCH=win64
    # No Mono or Gecko installer dialogs when the prefix is made: the program needs neither.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=d}
    unset DISPLAY WAYLAND_DISPLAY
}

# The Windows form of an absolute Unix path (drive Z: is the Unix root in every prefix).
rsw_windows_path() {
    local path=$1
    printf 'Z:%s\n' "${path//\//\\}"
}

# The bitness of a PE file: 32 or 64 (empty when it is no PE file). The machine field of its
# COFF header, found through the offset at 0x3C.
rsw_pe_bits() {
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 -- "$1" 2>/dev/null | tr -d ' ') || return 1
    [[ -n $offset ]] || return 1
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 -- "$1" 2>/dev/null | tr -d ' ') || return 1
    case $machine in
    014c) echo 32 ;;
    8664) echo 64 ;;
    *) return 1 ;;
    esac
}

# The regsvr32 that registers a DLL of bitness $1 (32 or 64) in the view of HKCR that programs of
# that bitness read: a 32-bit server is registered by the 32-bit regsvr32 of SysWOW64.
rsw_regsvr32_for() {
    if [[ $1 == 32 ]]; then echo 'C:\windows\syswow64\regsvr32.exe'; else echo regsvr32; fi
}

# Every Wine process, and the services and server that the first one starts, gets none of the
# caller's descriptors above stderr: a lock held on one would last as long as the wineserver.
rsw_wine() { "$RSW_WINE" "$@" 9>&-; }

# The Unix ids of the prefix's processes that are not Wine's own (server, services, devices,
# desktop): the program, what it started, sleepers. Zombies are left out.
rsw_user_processes() {
    local environ pid exe stat state first
    # A process may end while it is looked at: every read is allowed to fail.
    while IFS= read -r environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        # Wine's processes all run its loader; the scripts around them do not.
        exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
        case ${exe##*/} in wine64 | wine64-preloader | wine | wine-preloader) ;; *) continue ;; esac
        { stat=$(<"/proc/$pid/stat"); } 2>/dev/null || continue
        state=${stat##*) }
        state=${state%% *}
        [[ -z $state || $state == Z || $state == X ]] && continue
        first=
        { IFS= read -r -d '' first <"/proc/$pid/cmdline"; } 2>/dev/null
        case ${first,,} in
        *winemenubuilder* | 'c:\windows\system32\services.exe' | \
            'c:\windows\system32\winedevice.exe' | 'c:\windows\system32\plugplay.exe' | \
            'c:\windows\system32\svchost.exe' | 'c:\windows\system32\rpcss.exe' | \
            'c:\windows\system32\explorer.exe' | 'c:\windows\system32\wineboot.exe' | \
            'c:\windows\system32\conhost.exe')
            continue ;;
        esac
        printf '%s\n' "$pid"
    done < <(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null)
}

# Waits until the prefix has no process of its own left (see rsw_user_processes); after
# RSW_WAIT_SECONDS those left are killed. Wine's services and a held server stay.
rsw_wait_user_processes() {
    local deadline=$((SECONDS + RSW_WAIT_SECONDS)) left
    while left=$(rsw_user_processes) && [[ -n $left ]]; do
        if ((SECONDS >= deadline)); then
            local -a pids
            mapfile -t pids <<<"$left"
            echo "prefix.sh: killing Wine processes still running: ${pids[*]}" >&2
            kill -KILL "${pids[@]}" 2>/dev/null
            sleep 0.2
            return 1
        fi
        sleep 0.1
    done
    return 0
}

# Waits until the prefix's wineserver has ended (so it has written the registry back); kills the
# prefix's processes when that takes longer than RSW_WAIT_SECONDS.
rsw_wait_server() {
    if timeout "$RSW_WAIT_SECONDS" "$RSW_WINESERVER" -w; then return 0; fi
    echo "prefix.sh: wineserver did not end in ${RSW_WAIT_SECONDS}s; killing the prefix's processes" >&2
    "$RSW_WINESERVER" -k 2>/dev/null
    timeout 10 "$RSW_WINESERVER" -w 2>/dev/null
    return 1
}

# Makes the prefix unless a finished one is there already. $1: the prefix.
rsw_create_prefix() {
    rsw_use_prefix "$1"
    local ready=$WINEPREFIX/.rsw-ready
    [[ -f $ready && -f $WINEPREFIX/system.reg ]] && return 0
    mkdir -p "$WINEPREFIX" || return 1
    local log=$WINEPREFIX/.rsw-create.log
    if ! "$RSW_WINE" wineboot --init >"$log" 2>&1; then
        echo "prefix.sh: wineboot failed in $WINEPREFIX; see $log" >&2
        return 1
    fi
    if ! "$RSW_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$log" 2>&1; then
        echo "prefix.sh: cannot set the null graphics driver; see $log" >&2
        return 1
    fi
    # A program that crashes would start winedbg, which waits for ever with no one to answer;
    # a debugger that ends at once lets the program end with its exception code instead.
    if ! "$RSW_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
        /v Debugger /d 'cmd.exe /c exit 0' /f >>"$log" 2>&1; then
        echo "prefix.sh: cannot turn the crash debugger off; see $log" >&2
        return 1
    fi
    rsw_wait_server || return 1
    date >"$ready"
}

# Keeps the prefix's wineserver running between runs (and with it Wine's services), which saves
# about two seconds a run. The server still ends 120 s after its last client, should the caller
# die without rsw_stop_server.
rsw_hold_server() {
    rsw_use_prefix "$1"
    # No descriptor of the caller's stays open in the server: a pipe would not see its end.
    "$RSW_WINESERVER" -p120 </dev/null >/dev/null 2>&1 9>&-
    # A server that was running already keeps its own delay; it is ours either way.
    return 0
}

rsw_stop_server() {
    rsw_use_prefix "$1"
    "$RSW_WINESERVER" -k 2>/dev/null
    timeout "$RSW_WAIT_SECONDS" "$RSW_WINESERVER" -w 2>/dev/null
    return 0
}

# Whether a 32-bit Windows program runs in the prefix as a 32-bit process on 64-bit Windows: a tiny
# i686 program asks IsWow64Process. On failure prints why: a kernel that cannot execute 32-bit
# code, Wine's 32-bit half missing, or the probe's own answer. $1: the prefix (made already).
rsw_probe_wow64() {
    rsw_use_prefix "$1"
    local here probe answer
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    probe=$WINEPREFIX/rsw-tools/wow64-probe.exe
    mkdir -p -- "${probe%/*}" || return 1
    if [[ ! -f $probe || $here/wow64-probe.c -nt $probe ]]; then
        i686-w64-mingw32-gcc -O2 -Wall -o "$probe" "$here/wow64-probe.c" ||
            { echo "no i686 MinGW compiler to build the 32-bit probe"; return 1; }
    fi
    if answer=$(timeout 120 "$RSW_WINE" "$probe" 2>&1 9>&-) && [[ $answer == wow64* ]]; then
        return 0
    fi
    if [[ ! -x /usr/lib/wine/wine ]]; then
        echo "Wine's 32-bit half (Debian's wine32:i386) is not installed"
    elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "this machine's kernel cannot execute 32-bit code (Wine's i386 loader does not start)"
    else
        echo "the 32-bit probe did not run as a WoW64 process: ${answer:-no answer}"
    fi
    return 1
}

# Command-line use; sourcing the file only defines the functions.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    case ${1:-} in
    create)
        rsw_create_prefix "${2:-}" || exit 1
        printf '%s\n' "$WINEPREFIX"
        ;;
    hold) rsw_hold_server "${2:?prefix.sh hold PREFIX}" ;;
    stop) rsw_stop_server "${2:?prefix.sh stop PREFIX}" ;;
    path) rsw_default_prefix ;;
    probe-wow64) rsw_probe_wow64 "${2:?prefix.sh probe-wow64 PREFIX}" ;;
    *)
        echo "usage: prefix.sh create [PREFIX] | hold PREFIX | stop PREFIX | path | probe-wow64 PREFIX" >&2
        exit 2
        ;;
    esac
fi
