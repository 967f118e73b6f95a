#!/usr/bin/env bash
# Makes a library of N captures for the fleet replay: scenario machines varied in what decides
# (the reboot-required flag, the pending record's age through the clock, who is at the console
# and which sessions exist, the up-time against the last scan, Windows 10 or not, the agent's
# type), each prepared as the scenario runner prepares it and captured by the Linux capture
# program. The same N gives the same machines: the variations follow from the machine's number
# and every time is pinned.
#
#   tests/fleet/make-library.sh N OUT [BUILD_DIR]   (BUILD_DIR: default build/debug, with
#                                                   RsCapture and the stand-ins)
set -u
(($# >= 2)) && [[ $1 =~ ^[0-9]+$ ]] || { echo "usage: make-library.sh N OUT [BUILD_DIR]" >&2; exit 2; }
count=$1 out=$2
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Debian's interpreter, which install-deps.sh completes with python3-jsonschema: a python3 found
# earlier on the PATH may be a version manager's shim that costs more than the replay itself.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
build=$(realpath -e -- "${3:-$repo/build/debug}") || exit 2
[[ ! -e $out ]] || { echo "make-library.sh: $out exists; not overwritten" >&2; exit 2; }
export RS_REPO=$repo RS_HOST=native RS_STANDINS=$build/tools/standins RS_TOOLS=$build/tools/standins
# The preparations' "now": the clock every machine is pinned to before its own shift.
export RS_PREPARE_NOW=1615377600 # 2021-03-10 12:00:00 UTC
work=$(mktemp -d "${TMPDIR:-/tmp}/rs-library.XXXXXX") || exit 2
trap 'rm -rf -- "$work"' EXIT
mkdir -p -- "$out" || exit 2

# Machines whose preparation starts no service of its own.
bases=(rbt-flag-set-recorded rbt-flag-set-already-recorded rbt-prompt-answers-restart
    rbt-prompt-system-account rbt-lowercase-trla assess-due-first-run assess-not-required
    assess-no-reason assess-already-executed assess-after-own-reboot)

for ((i = 0; i < count; i++)); do
    base=${bases[i % ${#bases[@]}]}
    machine=$work/$i
    cp -r -- "$repo/tests/scenarios/cases/$base/machine" "$machine" &&
        bash "$repo/tests/scenarios/cases/$base/prepare" "$machine" >/dev/null || exit 1
    "$python" - "$machine" "$i" <<'EOF' || exit 1
import os, random, re, sys
machine, number = sys.argv[1], int(sys.argv[2])
choose = random.Random(number)
facts_path = os.path.join(machine, "machine.ini")
registry_path = os.path.join(machine, "registry", "HKLM.reg")
facts = open(facts_path, encoding="utf-8").read().replace("\r\n", "\n")
registry = open(registry_path, encoding="utf-8").read()

def set_fact(text, section, key, value):
    lines = text.split("\n")
    head = next((i for i, l in enumerate(lines) if l.strip().lower() == f"[{section.lower()}]"), None)
    if head is None:
        return text.rstrip("\n") + f"\n[{section}]\n{key}={value}\n"
    end = next((i for i in range(head + 1, len(lines)) if lines[i].startswith("[")), len(lines))
    for i in range(head + 1, end):
        if lines[i].split("=", 1)[0].strip().lower() == key.lower():
            lines[i] = f"{key}={value}"
            return "\n".join(lines)
    lines.insert(head + 1, f"{key}={value}")
    return "\n".join(lines)

def drop_section(text, section):
    return re.sub(r"(?ms)^\[" + re.escape(section) + r"\]\n.*?(?=^\[|\Z)", "", text)

# The clock: the preparation's now, later by 0, 1 or 8 days (the pending record ages with it).
day = choose.choice([0, 0, 1, 8])
if not re.search(r"(?m)^Now=", facts):
    facts = set_fact(facts, "Clock", "Now", "2021-03-10 12:00:00")
elif day:
    stamp = re.search(r"(?m)^Now=(\d{4}-\d{2}-)(\d{2})( .*)$", facts)
    facts = facts.replace(stamp.group(0), f"Now={stamp.group(1)}{int(stamp.group(2)) + day:02d}"
                                          f"{stamp.group(3)}")
# Who is at the console: as prepared, bob in session 2 beside a disconnected session, or nobody.
console = choose.choice(["keep", "keep", "bob", "nobody"])
if console == "bob":
    facts = set_fact(set_fact(facts, "Console", "User", "bob"), "Console", "SessionId", "2")
    facts = set_fact(facts, "Sessions", "1", "1,alice")
    facts = set_fact(facts, "Sessions", "2", "0,bob")
elif console == "nobody":
    facts = drop_section(facts, "Console")
# The up-time as the tick count answers it, when WMI's last boot time is not given.
if "LastBootUpTime=" not in facts:
    facts = set_fact(facts, "System", "TickCount64", str(choose.choice([600, 3600, 86400 * 3]) * 1000))
# The reboot-required flag cleared on some machines.
if choose.random() < 0.25:
    registry = re.sub(r"(?ms)^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                      r"\\WindowsUpdate\\Auto Update\\RebootRequired\]\r?\n.*?(?=^\[|\Z)", "", registry)
# Windows 10, and the agent's type.
if choose.random() < 0.3:
    registry = registry.replace('"ProductName"="Windows Server 2016"', '"ProductName"="Windows 10 Pro"')
kind = choose.choice(["keep", "TRLA", "MSP"])
if kind != "keep":
    registry = re.sub(r'(?m)^"Type"="[^"]*"', f'"Type"="{kind}"', registry)
open(facts_path, "w", encoding="utf-8").write(facts.replace("\n", "\r\n"))
open(registry_path, "w", encoding="utf-8").write(registry)
EOF
    # Grouped by the machine it came from, as a fleet's captures might be by site.
    mkdir -p -- "$out/$base" &&
        REBOOTSCHEDULER_MACHINE=$machine "$build/RsCapture" "$out/$base/machine-$(printf %03d "$i")" \
            >/dev/null || { echo "make-library.sh: capture $i ($base) failed" >&2; exit 1; }
done
echo "$count captures in $out"
