#!/usr/bin/env bash
# Builds everything and runs every test: native unit, contract and scenario tests, the
# sanitizer build, both MinGW builds, and the Windows programs and contract tests under Wine: the
# shipping i686 program as a 32-bit process on 64-bit Windows (WoW64), and the x86_64 build.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/scripts/install-deps.sh" all || { echo "could not install the build dependencies"; exit 1; }

passed=0
failed=0
skipped=0
failures=()
skips=()
stage() {
    local name=$1
    shift
    echo
    echo "=== $name ==="
    local start=$SECONDS
    if "$@"; then
        passed=$((passed + 1))
        echo "--- $name: ok ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "--- $name: FAILED ($((SECONDS - start)) s)"
    fi
}

native() {
    cmake --preset debug >/dev/null && cmake --build --preset debug &&
        ctest --preset debug -j2
}
sanitized() {
    cmake --preset asan >/dev/null && cmake --build --preset asan &&
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j2
}
windows32() {
    cmake --preset mingw-i686 >/dev/null && cmake --build --preset mingw-i686 || return 1
    local exe=build/mingw-i686/RebootScheduler.exe kind headers dll bad=0 manifest
    kind=$(file -b "$exe")
    echo "RebootScheduler.exe: $kind"
    case "$kind" in
        "PE32 executable (GUI) Intel 80386"*) ;;
        *) echo "expected a PE32 GUI executable for Intel 80386"; return 1 ;;
    esac
    # Static imports: KnownDLLs only, which Windows never looks for beside the program. Any other
    # system DLL is bound at run time from the system folder.
    headers=$(i686-w64-mingw32-objdump -p "$exe") || return 1
    for dll in $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z'); do
        case "$dll" in
            advapi32.dll | comdlg32.dll | gdi32.dll | imagehlp.dll | kernel32.dll | msvcrt.dll | \
                ole32.dll | oleaut32.dll | psapi.dll | rpcrt4.dll | sechost.dll | setupapi.dll | \
                shell32.dll | shlwapi.dll | user32.dll | ws2_32.dll)
                echo "import: $dll" ;;
            *) echo "import of a DLL that is no KnownDLL: $dll"; bad=1 ;;
        esac
    done
    grep -q 'TERMINAL_SERVICE_AWARE' <<<"$headers" || { echo "not linked --tsaware"; bad=1; }
    # The embedded manifest: asInvoker, and Windows 7, 8, 8.1 and 10/11 as supported systems.
    manifest=$(strings -a "$exe" | tr -d '\r')
    grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' <<<"$manifest" ||
        { echo "no asInvoker manifest"; bad=1; }
    local id
    for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
        1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
        grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || { echo "manifest lacks $id"; bad=1; }
    done
    return "$bad"
}
windows64() {
    cmake --preset mingw-x86_64 >/dev/null &&
        cmake --build --preset mingw-x86_64
}
wine_prefix="${TMPDIR:-/tmp}/rebootscheduler-wine-$$"
wow64_skip=""  # why 32-bit Windows programs cannot run here; empty when they can
wine_prefix_ready() {
    "$top/tools/wine/prefix.sh" create "$wine_prefix" >/dev/null
}
# Asked once, at the start: a machine whose kernel cannot execute 32-bit code (or
# without Wine's 32-bit half) skips the i686 stages with the reason, never passes them.
probe_wow64() {
    wine_prefix_ready || { wow64_skip="the Wine prefix could not be made"; return; }
    wow64_skip=$("$top/tools/wine/prefix.sh" probe-wow64 "$wine_prefix") && wow64_skip=""
    [ -n "$wow64_skip" ] && echo "32-bit Windows programs cannot run here: $wow64_skip"
}
# A stage that needs 32-bit Windows programs to run.
stage32() {
    if [ -n "$wow64_skip" ]; then
        echo
        echo "=== $1 ==="
        echo "--- $1: skipped ($wow64_skip)"
        skipped=$((skipped + 1))
        skips+=("$1: $wow64_skip")
        return
    fi
    stage "$@"
}
wine_contract() {
    wine_prefix_ready &&
        WINEPREFIX="$wine_prefix" WINEDEBUG=-all /usr/lib/wine/wine64 \
            "build/mingw-$1/tests/rs_contract_tests.exe" --gtest_brief=1
}
wine_scenarios() {
    "$top/tests/scenarios/run.sh" --host wine --exe "build/mingw-$1/RebootScheduler.exe" \
        --prefix "$wine_prefix"
}

bench_check() {
    "$top/bench/ci-check.sh" --exe build/debug/RebootScheduler
}

probe_wow64
stage "native build and tests" native
stage "benchmark check (gross regressions only)" bench_check
stage "sanitizer build and tests" sanitized
stage "fuzz targets, briefly" "$top/tests/fuzz/ci.sh"
stage "valgrind memcheck of each mode" "$top/tests/valgrind.sh" build/debug
stage "MinGW i686 shipping build" windows32
stage "MinGW x86_64 build" windows64
stage32 "contract tests under Wine, i686 under WoW64" wine_contract i686
stage "contract tests under Wine, x86_64" wine_contract x86_64
# The scenarios' machines are those of the shipped 32-bit agent (its key in the 32-bit view): the
# x86_64 build, which no agent ships, would not find it there, so it runs the contract tests only.
stage32 "scenarios under Wine, the shipping i686 program under WoW64" wine_scenarios i686
"$top/tools/wine/prefix.sh" stop "$wine_prefix" >/dev/null 2>&1
rm -rf "$wine_prefix"

echo
[ $failed -gt 0 ] && echo "failed stages: ${failures[*]}"
[ $skipped -gt 0 ] && printf 'skipped stage: %s\n' "${skips[@]}"
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
