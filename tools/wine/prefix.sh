#!/usr/bin/env bash
# A Wine prefix for the 64-bit Windows program, made once per test run and reused by every run in it.
#
# As a command:
#   prefix.sh create [PREFIX]   make the prefix unless it is ready already; print its path
#   prefix.sh hold PREFIX       keep its wineserver (and Wine's own services) running between runs
#   prefix.sh stop PREFIX       end every Wine process of the prefix and its wineserver
#   prefix.sh path              print the default prefix path
# Sourced (". tools/wine/prefix.sh"), it gives the rsw_* functions below to other scripts.
#
# Only the 64-bit loader is used (/usr/lib/wine/wine64, never the "wine" wrapper): this host cannot
# run 32-bit code, so there is no 32-bit Wine. WINEDEBUG defaults to -all. The prefix has no
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
    *)
        echo "usage: prefix.sh create [PREFIX] | hold PREFIX | stop PREFIX | path" >&2
        exit 2
        ;;
    esac
fi
