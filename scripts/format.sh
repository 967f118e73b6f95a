#!/usr/bin/env bash
# Formats every tracked C and C++ file with the project's .clang-format (clang-format 14).
#   scripts/format.sh           rewrite the files in place
#   scripts/format.sh --check   change nothing; list the files that differ and fail if any does
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
clang_format=${CLANG_FORMAT:-clang-format-14}
command -v "$clang_format" >/dev/null || { echo "$clang_format not found (Debian: clang-format-14)"; exit 1; }

mode=apply
case "${1:-}" in
    "") ;;
    --check) mode=check ;;
    *) echo "usage: scripts/format.sh [--check]"; exit 2 ;;
esac

mapfile -d '' files < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
if [ "$mode" = apply ]; then
    printf '%s\0' "${files[@]}" | xargs -0 -n 20 "$clang_format" -i
    exit
fi
# One clang-format run per batch of files; each difference is reported as "FILE:LINE:COL: error: ...".
mapfile -t differing < <(printf '%s\0' "${files[@]}" |
    xargs -0 -n 50 "$clang_format" --dry-run --Werror 2>&1 |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
for file in "${differing[@]}"; do echo "not formatted: $file"; done
echo "${#differing[@]} of ${#files[@]} files differ from .clang-format"
[ "${#differing[@]}" -eq 0 ]
