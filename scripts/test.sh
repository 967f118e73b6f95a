#!/usr/bin/env bash
# Builds everything and runs every test: native unit, contract and scenario tests, the native
# release build's tests, the format and lint checks, the sanitizer build, both MinGW builds, the
# release package, and the Windows program and contract tests under Wine.
#   scripts/test.sh           the full run (what CI runs)
#   scripts/test.sh --quick   the native debug build: unit and contract tests, native scenarios
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tier=full
for arg in "$@"; do
    case "$arg" in
        --quick) tier=quick ;;
        -h | --help) sed -n '2,6s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "unknown argument: $arg (scripts/test.sh [--quick])"; exit 2 ;;
    esac
done
"$top/scripts/install-deps.sh" all || { echo "could not install the build dependencies"; exit 1; }

passed=0
failed=0
failures=()
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
wine_contract() {
    # shellcheck source=../tools/wine/prefix.sh
    "$top/tools/wine/prefix.sh" create "$wine_prefix" >/dev/null &&
        WINEPREFIX="$wine_prefix" WINEDEBUG=-all /usr/lib/wine/wine64 \
            build/mingw-x86_64/tests/rs_contract_tests.exe --gtest_brief=1
}
wine_scenarios() {
    "$top/tests/scenarios/run.sh" --host wine --exe build/mingw-x86_64/RebootScheduler.exe \
        --prefix "$wine_prefix"
}

quick_native() {
    cmake --preset debug >/dev/null && cmake --build --preset debug &&
        ctest --preset debug -j2 -L 'unit|contract|scenario'
}
release() {
    cmake --preset release >/dev/null && cmake --build --preset release &&
        ctest --preset release -j2
}
format_check() {
    "$top/scripts/format.sh" --check
}
lint() {
    # clang-tidy (.clang-tidy) over the native build's own sources, generated files excepted.
    cmake --preset debug >/dev/null || return 1
    local output
    output=$(run-clang-tidy-14 -p build/debug -j 2 -quiet -use-color=false \
        "^$top/(src|tools|tests)/" 2>&1)
    local rc=$?
    grep -E ': (warning|error): ' <<<"$output" | sort -u
    [ $rc -eq 0 ] || echo "clang-tidy found faults (exit $rc)"
    return $rc
}
# The release package, unpacked where the Wine scenarios can run what is shipped.
package_unpacked=$top/build/mingw-i686/package-unpacked
package() {
    cmake --preset mingw-i686 >/dev/null &&
        cmake --build --preset mingw-i686 --target package || return 1
    local version zip
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw-i686/CMakeCache.txt)
    zip=build/mingw-i686/RebootScheduler-$version-win32.zip
    [ -f "$zip" ] || { echo "missing $zip"; return 1; }
    local listed expected
    listed=$(unzip -Z1 "$zip" | LC_ALL=C sort)
    expected=$(printf '%s\n' README.txt RebootScheduler.exe RebootScheduler.exe.debug)
    if [ "$listed" != "$expected" ]; then
        echo "$zip holds:"; echo "$listed"; echo "expected:"; echo "$expected"
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
    link=$(i686-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$exe" 2>/dev/null |
        tr -d '\0' | head -c 25)
    [ "$link" = RebootScheduler.exe.debug ] ||
        { echo "RebootScheduler.exe's debug link names '$link'"; return 1; }
    i686-w64-mingw32-objdump -h "$package_unpacked/RebootScheduler.exe.debug" | grep -q '\.debug_info' ||
        { echo "RebootScheduler.exe.debug holds no debug information"; return 1; }
    local name
    for name in Cryptel.dll VERUZE.XmlEncryptor Postbird.webpost Bellhop.exe Quillon.exe; do
        grep -q "$name" "$package_unpacked/README.txt" || { echo "README.txt does not name $name"; return 1; }
    done
    echo "$zip: $(stat -c %s "$zip") bytes; RebootScheduler.exe $(stat -c %s "$exe") bytes," \
        "unpacked in $package_unpacked"
}

bench_check() {
    "$top/bench/ci-check.sh" --exe build/debug/RebootScheduler
}

if [ "$tier" = quick ]; then
    stage "native build: unit and contract tests, native scenarios" quick_native
else
stage "format check (clang-format 14)" format_check
stage "native build and tests" native
stage "lint (clang-tidy 14)" lint
stage "native release build (-O2) and tests" release
stage "benchmark check (gross regressions only)" bench_check
stage "sanitizer build and tests" sanitized
stage "fuzz targets, briefly" "$top/tests/fuzz/ci.sh"
stage "valgrind memcheck of each mode" "$top/tests/valgrind.sh" build/debug
stage "MinGW i686 shipping build" windows32
stage "release package" package
stage "MinGW x86_64 build" windows64
stage "contract tests under Wine" wine_contract
stage "scenarios under Wine" wine_scenarios
fi
"$top/tools/wine/prefix.sh" stop "$wine_prefix" >/dev/null 2>&1
rm -rf "$wine_prefix"

echo
[ $failed -gt 0 ] && echo "failed stages: ${failures[*]}"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
