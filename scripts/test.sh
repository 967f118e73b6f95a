#!/usr/bin/env bash
# Builds everything and runs every test: native unit, contract and scenario tests, the native
# release build's tests, the format check, the sanitizer build, both MinGW builds, the release
# package, and the Windows programs and contract tests under Wine: the shipping i686 program as a
# 32-bit process on 64-bit Windows (WoW64), and the x86_64 build's contract tests.
#   scripts/test.sh           the full run (what CI runs)
#   scripts/test.sh --quick   a native build without debug information (build/quick): unit and
#                             contract tests, native scenarios; the fault sweeps are left out
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tier=full
for arg in "$@"; do
    case "$arg" in
        --quick) tier=quick ;;
        -h | --help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "unknown argument: $arg (scripts/test.sh [--quick])"; exit 2 ;;
    esac
done
"$top/scripts/install-deps.sh" all || { echo "could not install the build dependencies"; exit 1; }
# The tests' many Python calls use the system's Python 3, the one install-deps.sh equips: a
# python3 found earlier on PATH (a version manager's shim) costs every call a start of its own.
if [ -x /usr/bin/python3 ] && [ "$(command -v python3)" != /usr/bin/python3 ]; then
    python_bin=$(mktemp -d)
    ln -s /usr/bin/python3 "$python_bin/python3"
    PATH=$python_bin:$PATH
    trap 'rm -rf -- "$python_bin"' EXIT
fi

passed=0
failed=0
skipped=0
failures=()
skips=()
times=()  # each stage's line of the final summary: seconds, outcome, name
stage() {
    local name=$1
    shift
    echo
    echo "=== $name ==="
    local start=$SECONDS
    local outcome=ok
    if "$@"; then
        passed=$((passed + 1))
    else
        outcome=FAILED
        failed=$((failed + 1))
        failures+=("$name")
    fi
    echo "--- $name: $outcome ($((SECONDS - start)) s)"
    times+=("$(printf '%5d s  %-7s %s' "$((SECONDS - start))" "$outcome" "$name")")
}

native() {
    cmake --preset debug >/dev/null && cmake --build --preset debug &&
        ctest --preset debug -j2
}
# Every test under the sanitizers but the fleet tool's, whose runs of the program are the
# scenarios' and whose own checks (slices, schema, what-ifs) are the debug stage's.
sanitized() {
    cmake --preset asan >/dev/null && cmake --build --preset asan &&
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan-ci -j2
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
    # Loaded at a random address (which needs the relocations kept) and with data not executable.
    local flag
    for flag in DYNAMIC_BASE NX_COMPAT; do
        grep -qw "$flag" <<<"$headers" && echo "header: $flag" ||
            { echo "the header lacks $flag"; bad=1; }
    done
    i686-w64-mingw32-objdump -h "$exe" | grep -q '[[:space:]]\.reloc[[:space:]]' ||
        { echo "no .reloc section: the program could not be moved"; bad=1; }
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
        times+=("$(printf '%5d s  %-7s %s' 0 skipped "$1")")
        return
    fi
    stage "$@"
}
wine_contract() {
    wine_prefix_ready &&
        WINEPREFIX="$wine_prefix" WINEDEBUG=-all /usr/lib/wine/wine64 \
            "build/mingw-$1/tests/rs_contract_tests.exe" --gtest_brief=1
}
# The shipping program as the package holds it (unpacked by the package stage), with the i686
# stand-ins of the build beside which it was made.
wine_scenarios() {
    RS_STANDINS="$top/build/mingw-i686/tools/standins" "$top/tests/scenarios/run.sh" --host wine \
        --exe "$package_unpacked/RebootScheduler.exe" --prefix "$wine_prefix"
}
# The round trip through Wine: each of those machines captured in the same prefix by the
# package's RsCapture.exe under WoW64, and the capture run by the native debug build
# as the machine itself is (tests/scenarios/run.sh --capture).
wine_capture_roundtrip() {
    RS_STANDINS="$top/build/mingw-i686/tools/standins" "$top/tests/scenarios/run.sh" --host wine \
        --exe build/debug/RebootScheduler --capture "$package_unpacked/RsCapture.exe" \
        --prefix "$wine_prefix"
}

quick_native() {
    cmake --preset quick >/dev/null && cmake --build --preset quick &&
        ctest --preset quick -j2 -L 'unit|contract|scenario'
}
# The optimised program's tests: the unit and contract suites and the native scenarios. The fault
# sweeps and the capture, replay and fleet tools' tests are the debug and sanitizer stages'.
release() {
    cmake --preset release >/dev/null && cmake --build --preset release &&
        ctest --preset release-ci -j2
}
format_check() {
    "$top/scripts/format.sh" --check && /usr/bin/python3 "$top/scripts/check-layers.py"
}
# clang-tidy (.clang-tidy) over the native build's own sources: the program's and the tools' (src,
# tools) in every full run, the tests' too with RS_LINT_TESTS=1 (another six minutes of both
# cores, which CI's budget does not hold). Generated files are left out. It runs beside the later
# stages at the lowest priority, so that it takes what the single-threaded stages (benchmark,
# fuzzing, valgrind, Wine) leave idle.
lint_log=""
lint_dirs="src|tools"
[ "${RS_LINT_TESTS:-0}" = 1 ] && lint_dirs="src|tools|tests"
# clang takes GCC's precompiled headers for invalid ones: the lint sees the build's commands
# without them (every file includes what it uses).
lint_commands() {
    mkdir -p build/debug/lint &&
        python3 - build/debug/compile_commands.json build/debug/lint/compile_commands.json <<'EOF'
import json, re, sys
commands = json.load(open(sys.argv[1]))
for c in commands:
    c["command"] = re.sub(r" -Winvalid-pch| -include \S*cmake_pch\.hxx", "", c["command"])
json.dump(commands, open(sys.argv[2], "w"), indent=1)
EOF
}
lint_start() {
    lint_log=$(mktemp)
    lint_began=$SECONDS
    lint_commands || echo "could not write the lint's compile commands" >"$lint_log"
    (
        # GCC's own warning options (one test file turns one off) are unknown to clang.
        nice -n 19 run-clang-tidy-14 -p build/debug/lint -j 2 -quiet \
            -extra-arg=-Wno-unknown-warning-option "^$top/($lint_dirs)/" >>"$lint_log" 2>&1
        echo $? >"$lint_log.rc"
    ) &
    lint_pid=$!
}
lint_finish() {
    [ -n "$lint_log" ] || { echo "clang-tidy did not start: the native build failed"; return 1; }
    wait "$lint_pid"
    local rc
    rc=$(cat "$lint_log.rc" 2>/dev/null || echo 1)
    echo "clang-tidy over $(grep -c '^clang-tidy' "$lint_log") files, reported" \
        "$((SECONDS - lint_began)) s after it started"
    # Findings without the colour codes that run-clang-tidy-14 always asks for.
    sed 's/\x1b\[[0-9;]*m//g' "$lint_log" | grep -E '(^|: )(warning|error): ' | sort -u
    [ "$rc" -eq 0 ] || echo "clang-tidy found faults (exit $rc)"
    rm -f "$lint_log" "$lint_log.rc"
    return "$rc"
}
# The release package, unpacked where the Wine scenarios can run what is shipped.
package_unpacked=$top/build/mingw-i686/package-unpacked
# The file name a program's .gnu_debuglink names: up to its first NUL (padding and a CRC follow).
debuglink() {
    i686-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$1" 2>/dev/null |
        head -z -n 1 | tr -d '\0'
}
package() {
    cmake --preset mingw-i686 >/dev/null &&
        cmake --build --preset mingw-i686 --target package || return 1
    local version zip
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw-i686/CMakeCache.txt)
    zip=build/mingw-i686/RebootScheduler-$version-win32.zip
    [ -f "$zip" ] || { echo "missing $zip"; return 1; }
    local listed expected
    listed=$(unzip -Z1 "$zip" | LC_ALL=C sort)
    expected=$(printf '%s\n' README.txt RebootScheduler.exe RebootScheduler.exe.debug \
        RsCapture.exe RsCapture.exe.debug)
    if [ "$listed" != "$expected" ]; then
        echo "$zip holds:"; echo "$listed"; echo "expected:"; echo "$expected"
        return 1
    fi
    # The program counts the running processes whose name contains its own: no other program of
    # the package may carry that name, or running it would hold every run back.
    if grep -i 'rebootscheduler' <<<"$listed" | grep -v -x -E 'RebootScheduler\.exe(\.debug)?'; then
        echo "a shipped program's name contains RebootScheduler"
        return 1
    fi
    rm -rf "$package_unpacked" && mkdir -p "$package_unpacked" &&
        unzip -q "$zip" -d "$package_unpacked" || return 1
    local exe=$package_unpacked/RebootScheduler.exe
    local kind sections link
    kind=$(file -b "$exe")
    case "$kind" in
        "PE32 executable (GUI) Intel 80386"*) ;;
        *) echo "RebootScheduler.exe: $kind; expected a PE32 GUI executable for Intel 80386"; return 1 ;;
    esac
    sections=$(i686-w64-mingw32-objdump -h "$exe")
    if grep -q '\.debug_' <<<"$sections"; then
        echo "RebootScheduler.exe still carries debug sections"; return 1
    fi
    link=$(debuglink "$exe")
    [ "$link" = RebootScheduler.exe.debug ] ||
        { echo "RebootScheduler.exe's debug link names '$link'"; return 1; }
    local program
    for program in RebootScheduler RsCapture; do
        i686-w64-mingw32-objdump -h "$package_unpacked/$program.exe.debug" | grep -q '\.debug_info' ||
            { echo "$program.exe.debug holds no debug information"; return 1; }
    done
    link=$(debuglink "$package_unpacked/RsCapture.exe")
    [ "$link" = RsCapture.exe.debug ] ||
        { echo "RsCapture.exe's debug link names '$link'"; return 1; }
    local name
    for name in Cryptel.dll VERUZE.XmlEncryptor Postbird.webpost Bellhop.exe Quillon.exe; do
        grep -q "$name" "$package_unpacked/README.txt" || { echo "README.txt does not name $name"; return 1; }
    done
    echo "$zip: $(stat -c %s "$zip") bytes; RebootScheduler.exe $(stat -c %s "$exe") bytes," \
        "unpacked in $package_unpacked"
}

# On the release stage's program (optimised as shipped builds are, built once): its instruction
# counts are those the targets are set for.
bench_check() {
    "$top/bench/ci-check.sh" --exe build/release/RebootScheduler
}

if [ "$tier" = quick ]; then
    stage "native build: unit and contract tests, native scenarios" quick_native
else
probe_wow64
stage "format check (clang-format 14) and include layers" format_check
stage "native build and tests" native
[ -f build/debug/compile_commands.json ] && [ $failed -eq 0 ] && lint_start
stage "native release build (-O2) and tests" release
stage "benchmark check (gross regressions only)" bench_check
stage "sanitizer build and tests" sanitized
stage "fuzz targets, briefly" "$top/tests/fuzz/ci.sh"
stage "valgrind memcheck of each mode" "$top/tests/valgrind.sh" build/debug
stage "MinGW i686 shipping build" windows32
stage "release package" package
stage "MinGW x86_64 build" windows64
stage32 "contract tests under Wine, i686 under WoW64" wine_contract i686
stage "contract tests under Wine, x86_64" wine_contract x86_64
# The scenarios' machines are those of the shipped 32-bit agent (its key in the 32-bit view): the
# x86_64 build, which no agent ships, would not find it there, so it runs the contract tests only.
stage32 "scenarios under Wine, the shipping i686 program from the package, under WoW64" wine_scenarios
stage32 "capture under Wine, i686 under WoW64, replayed natively" wine_capture_roundtrip
stage "lint (clang-tidy 14, beside the stages since the native build)" lint_finish
fi
"$top/tools/wine/prefix.sh" stop "$wine_prefix" >/dev/null 2>&1
rm -rf "$wine_prefix"

echo
echo "stage times:"
printf '  %s\n' "${times[@]}"
echo "  $(printf '%5d s' "$SECONDS")  in all (from the start of the script)"
[ $failed -gt 0 ] && echo "failed stages: ${failures[*]}"
[ $skipped -gt 0 ] && printf 'skipped stage: %s\n' "${skips[@]}"
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
