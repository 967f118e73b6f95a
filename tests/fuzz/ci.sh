#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for about 20 seconds (or $1 seconds) over its
# seed corpus, two at a time (one a core). Fails when the build or any target fails.
set -u
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root" || exit 2
scripts/install-deps.sh native || exit 2
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1
RS_FUZZ_JOBS=2 exec tests/fuzz/run.sh all "${1:-20}"
