#!/usr/bin/env bash
# The fleet replay on a generated library: the same build on both sides decides alike; a what-if
# moves exactly the machines that one replay.sh per machine says it moves; -j 1, -j 2 and merged
# slices give the same bytes; fleet.json follows its schema; a capture that cannot be replayed is
# listed while the others still count; an operator's folder is not written into.
#
#   fleet-test.sh BUILD_DIR [N]   (N captures, default 6; the fleet-large test takes 40)
set -u
build=$(realpath -e -- "$1") || exit 2
count=${2:-6}
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Debian's interpreter, which install-deps.sh completes with python3-jsonschema: a python3 found
# earlier on the PATH may be a version manager's shim that costs more than the replay itself.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/rs-fleet.XXXXXX") || exit 2
trap 'rm -rf -- "$tmp"' EXIT
failed=0 passed=0
check() { # NAME CONDITION_EXIT_CODE [DETAIL]
    if [[ $2 == 0 ]]; then
        echo "ok $1"; passed=$((passed + 1))
    else
        echo "FAILED $1${3:+: $3}"; failed=$((failed + 1))
    fi
}
fleet() { "$repo/scripts/fleet-replay.sh" "$@" --build "$build" >/dev/null 2>"$tmp/stderr"; }
first_line() { head -n 1 "$1/fleet.txt"; }

"$repo/tests/fleet/make-library.sh" "$count" "$tmp/library" "$build" >/dev/null ||
    { echo "FAILED the library could not be made"; exit 1; }
unchanged="$count machines: RBT 0 decide otherwise, RBTASSESS 0 decide otherwise"

# The same build on both sides; its verdicts pinned for the release gate below.
fleet "$tmp/library" --vs-build "$build" --pin "$tmp/pinned.jsonl" --out "$tmp/same" -j 2
code=$?
[[ $code == 0 && $(first_line "$tmp/same") == "$unchanged" ]]
check "the same build on both sides: exit 0, nothing decides otherwise" $? \
    "exit $code, $(first_line "$tmp/same")"
"$python" - "$repo/tools/replay/fleet.schema.json" "$tmp/same/fleet.json" <<'EOF'
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
jsonschema.Draft202012Validator(schema).validate(json.load(open(sys.argv[2])))
EOF
check "fleet.json follows fleet.schema.json" $?

# The verdicts of the six-capture library kept with the tests: the current build decides as they
# say, or the cell that changed names the gate that moved (RS_FLEET_UPDATE=1 writes them anew).
if ((count == 6)); then
    kept=$repo/tests/fleet/pinned.jsonl
    [[ ${RS_FLEET_UPDATE:-0} == 1 ]] && cp -- "$tmp/pinned.jsonl" "$kept"
    fleet "$tmp/library" --against "$kept" --out "$tmp/gate" -j 2
    code=$?
    [[ $code == 0 ]]
    check "the current build decides as the kept verdicts" $? "exit $code:
$(cat "$tmp/gate/fleet.txt" 2>/dev/null)"
fi

# Against the pinned verdicts: the prompt answers "restart now" and the account may not shut
# down. Exactly the machines whose own replay restarts now move, all into "restart refused".
what_if=(--vs-answer restart --vs-set Account.ShutdownPrivilege=0 --against "$tmp/pinned.jsonl")
fleet "$tmp/library" "${what_if[@]}" --out "$tmp/j1" -j 1
code=$?
restarting=()
while IFS= read -r notes; do
    machine=${notes%/capture.ini}
    "$repo/scripts/replay.sh" "$machine" RBT --answer restart --out "$tmp/one" >/dev/null 2>&1
    "$python" -c 'import json,sys; sys.exit(json.load(open(sys.argv[1]))["modes"][0]["exit_code"] != 5)' \
        "$tmp/one/report.json" && restarting+=("${machine#"$tmp/library/"}")
done < <(cd "$tmp/library" && find "$tmp/library" -name capture.ini | LC_ALL=C sort)
moved=$("$python" - "$tmp/j1/machines.jsonl" <<'EOF'
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r.get("mode") == "RBT" and r["changed"]:
        print(r["machine"] if r["after"]["class"] == "restart refused" else "unexpected " + line)
EOF
)
expected=$(printf '%s\n' "${restarting[@]}" | LC_ALL=C sort)
[[ $code == 2 && -n $expected && $moved == "$expected" &&
    $(first_line "$tmp/j1") == "$count machines: RBT ${#restarting[@]} decide otherwise, RBTASSESS 0 decide otherwise" ]]
check "restart now without the shutdown right: exactly the ${#restarting[@]} restarting machines refused" $? \
    "exit $code; moved: $(tr '\n' ' ' <<<"$moved"); restarting: ${restarting[*]}"

# The same bytes whatever the parallelism, and from two merged slices.
fleet "$tmp/library" "${what_if[@]}" --out "$tmp/j2" -j 2
fleet "$tmp/library" "${what_if[@]}" --shard 1/2 --out "$tmp/s1" -j 1
fleet "$tmp/library" "${what_if[@]}" --shard 2/2 --out "$tmp/s2" -j 1
"$repo/scripts/fleet-replay.sh" --merge "$tmp/s2" "$tmp/s1" --out "$tmp/merged" >/dev/null
same=0
for file in fleet.txt fleet.json machines.jsonl; do
    cmp -s "$tmp/j1/$file" "$tmp/j2/$file" && cmp -s "$tmp/j1/$file" "$tmp/merged/$file" ||
        { same=1; echo "    $file differs"; }
done
[[ -s $tmp/s1/machines.jsonl && -s $tmp/s2/machines.jsonl ]] || same=1
check "-j 1, -j 2 and two merged slices give the same bytes" $same

# Another configuration (the alert-suspension post enciphered) changes the posts and nothing
# else, where the prompt answers "restart now" on both sides.
sed 's/encrypt="0"/encrypt="1"/' "$repo/examples/wpConfig.clear.xml" >"$tmp/encrypted.xml"
fleet "$tmp/library" --answer restart --vs-config "$tmp/encrypted.xml" --out "$tmp/config" -j 2
code=$?
differ=$("$python" - "$tmp/config/machines.jsonl" <<'EOF'
import json, sys
gates = set()
for line in open(sys.argv[1]):
    r = json.loads(line)
    gates |= {g["gate"] for g in r["gates_differ"]} | ({"verdict"} if r["changed"] else set())
print(" ".join(sorted(gates)))
EOF
)
[[ $code == 0 && $differ == "effect: posts" ]]
check "another configuration changes the alert-suspension posts only" $? "exit $code, differ: $differ"

# A capture that cannot be replayed is listed with its reason; the others still count.
mkdir -p "$tmp/broken/site/cut"
printf '[Capture]\r\nVersion=1.0.0\r\n' >"$tmp/broken/site/cut/capture.ini"
cp -r -- "$(dirname "$(find "$tmp/library" -name capture.ini | LC_ALL=C sort | head -n 1)")" "$tmp/broken/good"
fleet "$tmp/broken" --vs-build "$build" --out "$tmp/listed" -j 2
code=$?
grep -qxF '  site/cut: before: replay.sh ended with 3: CAPTURE is not a capture (no capture.ini with [Capture], or no registry/HKLM.reg)' \
    "$tmp/listed/fleet.txt"
listed=$?
[[ $code == 1 && $listed == 0 &&
    $(first_line "$tmp/listed") == "2 machines: RBT 0 decide otherwise, RBTASSESS 0 decide otherwise; 1 could not be replayed" ]]
check "a capture that cannot be replayed: exit 1, listed, the other counted" $? \
    "exit $code, $(first_line "$tmp/listed")"

# An operator's folder as --out, and a usage error.
mkdir -p "$tmp/theirs" && echo keep >"$tmp/theirs/notes.txt"
fleet "$tmp/library" --vs-answer later --out "$tmp/theirs"
code=$?
[[ $code == 64 && $(ls "$tmp/theirs") == notes.txt ]]
check "a folder of other files as --out: refused (64), untouched" $? "exit $code"
fleet "$tmp/library" --out "$tmp/nothing"
code=$?
[[ $code == 64 && ! -e $tmp/nothing ]]
check "nothing to compare: usage (64)" $? "exit $code"

echo "$passed passed, $failed failed"
((failed == 0))
