"""What a fleet would do: every capture of a library replayed on two sides (a build, an answer, a
time, facts or a configuration before and after), each through scripts/replay.sh, and the verdicts
of both sides set side by side as one matrix of verdict classes.

Everything written depends on the library and the options alone: machines are sorted by name,
times, process ids and ports are masked in what is compared and kept, so -j 1, -j N and the merge
of --shard slices give the same bytes. See scripts/fleet-replay.sh for the options.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SCHEMA_VERSION = 1
MODES = ("RBT", "RBTASSESS")
EXIT_OK, EXIT_FAILED, EXIT_CHANGED, EXIT_USAGE = 0, 1, 2, 64
# A replay that outlives this is cut (replay.sh bounds each run of the program by 15 minutes).
REPLAY_BOUND_SECONDS = 2 * 15 * 60 + 60
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# What changes from one replay of the same capture to the next without the machine deciding
# otherwise: file times the replaying host gave, process ids, loopback ports.
VOLATILE = [
    (re.compile(r"\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}"), "<time>"),
    (re.compile(r"pid=\d+"), "pid=<n>"),
    (re.compile(r"(127\.0\.0\.1|localhost):\d+"), r"\1:<port>"),
]


def masked(value):
    if isinstance(value, str):
        for pattern, replacement in VOLATILE:
            value = pattern.sub(replacement, value)
        return value
    if isinstance(value, list):
        return [masked(v) for v in value]
    if isinstance(value, dict):
        return {k: masked(v) for k, v in value.items()}
    return value


def verdict_class(verdict, exit_code):
    """The class of a mode's verdict: what the machine does, and for "nothing to do" the gate
    that held."""
    if verdict.startswith("would restart now, but Windows refuses") or exit_code == 6:
        return "restart refused"
    if verdict.startswith("would restart now"):
        return "restart now"
    if verdict.startswith("would start the prompt program in the system account"):
        return "prompt in the system account"
    if verdict.startswith("would start the prompt program for"):
        return "prompt for a user"
    if verdict.startswith("would try to start"):
        return "nothing to do: the prompt program's start is refused"
    if verdict.startswith("would start the assessment"):
        return "start the assessment"
    if verdict.startswith("nothing to do: "):
        held = verdict[len("nothing to do: "):]
        # The gate without the values that follow it.
        held = re.split(r" \(|: ", held, maxsplit=1)[0]
        return "nothing to do: " + held
    return "unknown: " + verdict


def side_record(mode):
    """What a side of one machine and mode keeps: its verdict, class, exit code, and the gates
    and effects that are compared."""
    gates = [[g["gate"], g["value"]] for g in mode["gates"]]
    effects = mode.get("effects", {})
    for name in sorted(effects):
        if name != "programs_started" or effects[name]:
            gates.append(["effect: " + name.replace("_", " "), json.dumps(effects[name],
                                                                          sort_keys=True)])
    return masked({"verdict": mode["verdict"], "class": verdict_class(mode["verdict"],
                                                                        mode["exit_code"]),
                   "exit_code": mode["exit_code"], "gates": gates})


def differing_gates(before, after):
    """The gates (and effects) whose values differ, in the order the after side takes them."""
    left = dict((g, v) for g, v in before["gates"])
    right = dict((g, v) for g, v in after["gates"])
    order = [g for g, _ in after["gates"]] + [g for g, _ in before["gates"] if g not in right]
    return [{"gate": g, "before": left.get(g), "after": right.get(g)}
            for g in order if left.get(g) != right.get(g)]


def find_captures(library):
    """Every capture below LIBRARY (a folder whose capture.ini has a [Capture] section), by its
    path relative to LIBRARY; links are not followed and a capture is not looked into."""
    found = []
    for root, folders, files in os.walk(library):
        folders.sort()
        if "capture.ini" in files:
            try:
                with open(os.path.join(root, "capture.ini"), "rb") as notes:
                    head = notes.read(1 << 20).lower()
            except OSError:
                head = b""
            if re.search(rb"^\[capture\]", head, re.M):
                found.append(os.path.relpath(root, library).replace(os.sep, "/"))
                folders[:] = []
    return sorted(found, key=lambda name: name.encode("utf-8", "surrogateescape"))


def in_shard(name, shard):
    index, count = shard
    digest = hashlib.sha256(name.encode("utf-8", "surrogateescape")).digest()
    return int.from_bytes(digest[:8], "big") % count == index - 1


class Side:
    """One side of the comparison: the build and the what-if options of its replays."""

    def __init__(self, build, answer=None, at=None, sets=(), config=None):
        self.build, self.answer, self.at = build, answer, at
        self.sets, self.config = list(sets), config

    def describe(self):
        # Paths as given: the description is part of the output and depends on the input alone.
        return {"build": self.build, "answer": self.answer or "none", "at": self.at,
                "set": self.sets, "config": self.config}

    def replay(self, capture, work):
        """Replays CAPTURE (both modes) in WORK; returns ({mode: record}, None) or (None, why)."""
        source = capture
        if self.config:
            source = os.path.join(work, "capture")
            shutil.copytree(capture, source, symlinks=True)
            clear = clear_configuration(source)
            if not clear:
                return None, "the capture holds no clear configuration to replace"
            shutil.copyfile(self.config, clear)
        out = os.path.join(work, "replay")
        command = [os.path.join(TOP, "scripts", "replay.sh"), source, "both", "--out", out,
                   "--answer", self.answer or "none"]
        if self.at:
            command += ["--at", self.at]
        for fact in self.sets:
            command += ["--set", fact]
        env = dict(os.environ, RS_BUILD=self.build)
        try:
            run = subprocess.run(command, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 timeout=REPLAY_BOUND_SECONDS)
        except subprocess.TimeoutExpired:
            return None, f"the replay did not end within {REPLAY_BOUND_SECONDS} s"
        if run.returncode != 0:
            said = run.stderr.decode("utf-8", "replace").strip().splitlines()
            reason = said[-1] if said else ""
            # The replay names the capture by its path; the report names the machine.
            reason = reason.replace(source, "CAPTURE").removeprefix("replay: ")
            return None, f"replay.sh ended with {run.returncode}: {reason}"
        try:
            with open(os.path.join(out, "report.json"), encoding="utf-8") as report:
                modes = json.load(report)["modes"]
        except (OSError, ValueError, KeyError) as error:
            return None, f"no readable report.json ({error.__class__.__name__})"
        return {m["mode"]: side_record(m) for m in modes}, None


def clear_configuration(capture):
    """The host path of the clear configuration a capture holds, or None."""
    try:
        with open(os.path.join(capture, "capture.ini"), encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return None
    match = re.search(r"^ClearConfiguration=(.+?)\r?$", text, re.M | re.I)
    if not match or not re.match(r"^[A-Za-z]:\\", match.group(1)):
        return None
    parts = [p for p in match.group(1)[3:].split("\\") if p]
    if any(p in (".", "..") for p in parts):
        return None
    path = os.path.join(capture, "drives", match.group(1)[0].lower())
    for part in parts:  # names are matched without regard to case, as on Windows
        if not os.path.isdir(path):
            return None
        names = {n.lower(): n for n in os.listdir(path)}
        path = os.path.join(path, names.get(part.lower(), part))
    return path if os.path.isfile(path) and not os.path.islink(path) else None


def machine_records(name, before, after, failure):
    """The lines of machines.jsonl for one machine: one per mode, or one naming its failure."""
    if failure:
        return [{"machine": name, "mode": None, "error": failure}]
    records = []
    for mode in MODES:
        left, right = before.get(mode), after.get(mode)
        if left is None or right is None:
            records.append({"machine": name, "mode": mode,
                            "error": f"the replay has no {mode} run on one side"})
            continue
        differ = differing_gates(left, right)
        records.append({"machine": name, "mode": mode,
                        "changed": left["class"] != right["class"]
                        or left["verdict"] != right["verdict"]
                        or left["exit_code"] != right["exit_code"],
                        "before": {k: left[k] for k in ("verdict", "class", "exit_code")},
                        "after": {k: right[k] for k in ("verdict", "class", "exit_code")},
                        "gates_differ": differ})
    return records


def summarise(records, sides, total):
    """fleet.json's content from the records (sorted), the sides and the number of captures."""
    failed = sorted({(r["machine"], r["error"]) for r in records if "error" in r})
    modes = []
    for mode in MODES:
        rows = [r for r in records if r.get("mode") == mode and "error" not in r]
        cells = {}
        for r in rows:
            key = (r["before"]["class"], r["after"]["class"])
            cell = cells.setdefault(key, {"before": key[0], "after": key[1], "machines": 0,
                                          "decide_otherwise": 0, "first_gates": {},
                                          "examples": []})
            cell["machines"] += 1
            if r["changed"]:
                cell["decide_otherwise"] += 1
                first = r["gates_differ"][0]["gate"] if r["gates_differ"] else "(none)"
                cell["first_gates"][first] = cell["first_gates"].get(first, 0) + 1
                if len(cell["examples"]) < 3:
                    cell["examples"].append(r["machine"])
        listed = []
        for key in sorted(cells):
            cell = cells[key]
            cell["first_gates"] = [{"gate": g, "machines": n} for g, n in
                                   sorted(cell["first_gates"].items(), key=lambda i: (-i[1], i[0]))]
            listed.append(cell)
        modes.append({"mode": mode, "machines": len(rows),
                      "decide_otherwise": sum(1 for r in rows if r["changed"]), "cells": listed})
    return {"schema_version": SCHEMA_VERSION, "captures": total,
            "replayed": total - len({m for m, _ in failed}), "sides": sides, "modes": modes,
            "not_replayed": [{"machine": m, "reason": e} for m, e in failed]}


def fleet_text(fleet):
    lines = []
    counts = ", ".join(f"{m['mode']} {m['decide_otherwise']} decide otherwise"
                       for m in fleet["modes"])
    first = f"{fleet['captures']} machines: {counts}"
    if fleet["not_replayed"]:
        first += f"; {len(fleet['not_replayed'])} could not be replayed"
    lines += [first, ""]
    for side in ("before", "after"):
        described = fleet["sides"][side]
        shown = [f"{k} {json.dumps(v)}" for k, v in sorted(described.items())
                 if v not in (None, [])]
        lines.append(f"{side}: " + ", ".join(shown))
    for mode in fleet["modes"]:
        lines += ["", f"== {mode['mode']}: {mode['machines']} machines, "
                      f"{mode['decide_otherwise']} decide otherwise"]
        for cell in mode["cells"]:
            after = "as before" if cell["before"] == cell["after"] else "-> " + cell["after"]
            line = f"  {cell['machines']:5d}  {cell['before']} {after}"
            if cell["decide_otherwise"] and cell["decide_otherwise"] != cell["machines"]:
                line += f" ({cell['decide_otherwise']} decide otherwise)"
            lines.append(line)
            if cell["decide_otherwise"]:
                for gate in cell["first_gates"]:
                    lines.append(f"           first gate that differs: {gate['gate']} "
                                 f"({gate['machines']})")
                lines.append("           e.g. " + ", ".join(cell["examples"]))
    if fleet["not_replayed"]:
        lines += ["", "Not replayed:"]
        lines += [f"  {m['machine']}: {m['reason']}" for m in fleet["not_replayed"]]
    return "\n".join(lines) + "\n"


def write_atomically(path, text):
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", dir=os.path.dirname(path),
                                     prefix=".fleet-", delete=False) as f:
        f.write(text)
    os.replace(f.name, path)


def write_outputs(out, records, sides, total, shard=None):
    records = sorted(records, key=lambda r: (r["machine"].encode("utf-8", "surrogateescape"),
                                             r["mode"] or ""))
    fleet = summarise(records, sides, total)
    write_atomically(os.path.join(out, "machines.jsonl"),
                     "".join(json.dumps(r, sort_keys=True, ensure_ascii=True) + "\n"
                             for r in records))
    write_atomically(os.path.join(out, "fleet.json"),
                     json.dumps(fleet, indent=1, sort_keys=True, ensure_ascii=True) + "\n")
    write_atomically(os.path.join(out, "fleet.txt"), fleet_text(fleet))
    # What a merge needs beside the records: the sides and which slice this is.
    write_atomically(os.path.join(out, "slice.json"),
                     json.dumps({"sides": sides, "shard": shard, "captures": total},
                                sort_keys=True) + "\n")
    return fleet


def exit_code(fleet):
    if fleet["not_replayed"]:
        return EXIT_FAILED
    return EXIT_CHANGED if any(m["decide_otherwise"] for m in fleet["modes"]) else EXIT_OK


def prepare_out(out):
    """The output folder: made new, or an empty one, or one that an earlier fleet replay wrote
    and that holds nothing else; anything else is refused before anything is written."""
    ours = {"fleet.txt", "fleet.json", "machines.jsonl", "slice.json"}
    if os.path.lexists(out):
        if os.path.islink(out) or not os.path.isdir(out):
            raise SystemExit(usage_error(f"--out {out} is not a folder"))
        names = set(os.listdir(out))
        others = sorted(n for n in names - ours if not n.startswith(".work-"))
        if names and ("slice.json" not in names or others):
            raise SystemExit(usage_error(f"--out {out} holds files that a fleet replay did not "
                                         f"write ({', '.join(others[:3]) or 'no slice.json'}); "
                                         "not used"))
    os.makedirs(out, exist_ok=True)


def usage_error(text):
    print(f"fleet-replay: {text}", file=sys.stderr)
    return EXIT_USAGE


class Progress:
    """done/total, rate and time left on a terminal; nothing when stderr is not one."""

    def __init__(self, total):
        self.total, self.done, self.start = total, 0, time.monotonic()
        self.shown = sys.stderr.isatty()

    def step(self):
        self.done += 1
        if not self.shown:
            return
        spent = time.monotonic() - self.start
        rate = self.done / spent if spent > 0 else 0.0
        left = (self.total - self.done) / rate if rate else 0.0
        sys.stderr.write(f"\r{self.done}/{self.total} machines, {rate:.1f}/s, "
                         f"{left:.0f} s left ")
        sys.stderr.flush()

    def end(self):
        if self.shown:
            sys.stderr.write("\n")


def load_pinned(path):
    pinned = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            try:
                record = json.loads(line)
                pinned.setdefault(record["machine"], {})[record["mode"]] = {
                    "verdict": record["verdict"], "class": record["class"],
                    "exit_code": record["exit_code"], "gates": record["gates"]}
            except (ValueError, KeyError, TypeError):
                raise SystemExit(usage_error(f"{path}:{number}: not a pinned verdict"))
    return pinned


def merge(dirs, out):
    records, sides, shards, total = [], None, set(), 0
    for folder in dirs:
        try:
            with open(os.path.join(folder, "slice.json"), encoding="utf-8") as f:
                piece = json.load(f)
            with open(os.path.join(folder, "machines.jsonl"), encoding="utf-8") as f:
                records += [json.loads(line) for line in f]
        except (OSError, ValueError) as error:
            return usage_error(f"{folder} is not a fleet replay's output ({error})")
        if sides is not None and piece["sides"] != sides:
            return usage_error(f"{folder} was replayed with other sides than {dirs[0]}")
        sides = piece["sides"]
        shard = tuple(piece["shard"] or (1, 1))
        if shard in shards:
            return usage_error(f"{folder} repeats the slice {shard[0]}/{shard[1]}")
        shards.add(shard)
        total += piece["captures"]
    counts = {n for _, n in shards}
    if len(counts) != 1 or len(shards) != next(iter(counts)):
        return usage_error("the folders are not every slice of one library: "
                           + ", ".join(f"{i}/{n}" for i, n in sorted(shards)))
    prepare_out(out)
    return exit_code(write_outputs(out, records, sides, total))


def parse(argv):
    parser = argparse.ArgumentParser(prog="fleet-replay", add_help=True)
    parser.add_argument("library", nargs="?")
    parser.add_argument("--out", required=True)
    parser.add_argument("--build", default=os.path.join(TOP, "build", "debug"))
    parser.add_argument("--answer", choices=("restart", "later", "none"))
    parser.add_argument("--at")
    parser.add_argument("--set", action="append", default=[])
    parser.add_argument("--vs-build")
    parser.add_argument("--vs-answer", choices=("restart", "later", "none"))
    parser.add_argument("--vs-at")
    parser.add_argument("--vs-set", action="append", default=[])
    parser.add_argument("--vs-config")
    parser.add_argument("--against")
    parser.add_argument("--pin")
    parser.add_argument("-j", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--shard")
    parser.add_argument("--merge", nargs="+")

    class Quiet(Exception):
        pass

    def error(message):
        raise Quiet(message)

    parser.error = error
    try:
        args = parser.parse_args(argv)
    except Quiet as e:
        raise SystemExit(usage_error(str(e)))
    if args.merge:
        if args.library or args.shard or args.pin or args.against:
            raise SystemExit(usage_error("--merge takes only the slices' folders and --out"))
        return args
    if not args.library:
        raise SystemExit(usage_error("no LIBRARY"))
    vs = args.vs_build or args.vs_answer or args.vs_at or args.vs_set or args.vs_config
    if not vs and not args.against:
        raise SystemExit(usage_error("nothing to compare: give --vs-... options or --against"))
    if args.j < 1:
        raise SystemExit(usage_error("-j takes a number of at least 1"))
    if args.shard:
        match = re.fullmatch(r"(\d+)/(\d+)", args.shard)
        if not match or not 1 <= int(match.group(1)) <= int(match.group(2)):
            raise SystemExit(usage_error(f"--shard {args.shard}: I/N with 1 <= I <= N"))
        args.shard = (int(match.group(1)), int(match.group(2)))
    for fact in args.set + args.vs_set:
        if not re.fullmatch(r"[A-Za-z0-9_]+\.[^=]+=.*", fact):
            raise SystemExit(usage_error(f"--vs-set {fact}: Section.Key=Value"))
    if args.vs_config and not os.path.isfile(args.vs_config):
        raise SystemExit(usage_error(f"--vs-config {args.vs_config} is not a file"))
    if not os.path.isdir(args.library):
        raise SystemExit(usage_error(f"{args.library} is not a folder"))
    return args


def main(argv):
    args = parse(argv)
    if args.merge:
        return merge(args.merge, args.out)
    # What-ifs of both sides, and those of the after side in their place or beside them.
    before = Side(args.build, args.answer, args.at, args.set)
    after = Side(args.vs_build or args.build, args.vs_answer or args.answer, args.vs_at or args.at,
                 args.set + args.vs_set,
                 os.path.abspath(args.vs_config) if args.vs_config else None)
    pinned = load_pinned(args.against) if args.against else None
    sides = {"before": {"pinned": args.against} if pinned is not None else before.describe(),
             "after": after.describe()}
    if args.vs_config:
        sides["after"]["config"] = args.vs_config
    library = os.path.abspath(args.library)
    names = [n for n in find_captures(library) if not args.shard or in_shard(n, args.shard)]
    prepare_out(args.out)
    work = tempfile.mkdtemp(prefix=".work-", dir=args.out)
    progress = Progress(len(names))

    def one(index, name):
        capture = os.path.join(library, name)
        folder = os.path.join(work, str(index))
        os.mkdir(folder)
        try:
            if pinned is not None:
                left = pinned.get(name)
                if not left:
                    return name, None, None, "not among the pinned verdicts"
            else:
                os.mkdir(os.path.join(folder, "before"))
                left, why = before.replay(capture, os.path.join(folder, "before"))
                if why:
                    return name, None, None, "before: " + why
            os.mkdir(os.path.join(folder, "after"))
            right, why = after.replay(capture, os.path.join(folder, "after"))
            return name, left, right, "after: " + why if why else None
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    results = []
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.j) as pool:
            for result in pool.map(lambda item: one(*item), enumerate(names)):
                results.append(result)
                progress.step()
    finally:
        progress.end()
        shutil.rmtree(work, ignore_errors=True)
    records = []
    for name, left, right, why in results:
        records += machine_records(name, left, right, why)
    if args.pin and pinned is None:
        lines = []
        for name, left, _, why in results:
            for mode in MODES if left else ():
                if mode in left:
                    lines.append(dict(machine=name, mode=mode, **left[mode]))
        write_atomically(os.path.abspath(args.pin),
                         "".join(json.dumps(r, sort_keys=True, ensure_ascii=True) + "\n"
                                 for r in lines))
    fleet = write_outputs(args.out, records, sides, len(names), args.shard)
    sys.stdout.write(fleet_text(fleet))
    return exit_code(fleet)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
