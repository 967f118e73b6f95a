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
    local kind
    kind=$(file -b build/mingw-i686/RebootScheduler.exe)
    echo "RebootScheduler.exe: $kind"
    case "$kind" in
        "PE32 executable (GUI) Intel 80386"*) return 0 ;;
        *) echo "expected a PE32 GUI executable for Intel 80386"; return 1 ;;
    esac
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
