#!/usr/bin/env python3
"""Runs commands in alternation and compares them round by round.

    alternate.py --runs N [--warmup W] [--json FILE] COMMAND...

Each round runs every COMMAND once, in the order given (A, B, C, A, B, C ...), so that a machine
whose load drifts weighs on every command of a round alike; W rounds are run first and not
counted. For each run it takes the wall time (until the command ends) and the processor time
(user + system) of the command and of every process it started: this script makes itself their
subreaper, so that processes which leave their parent, as Wine's do, are still waited for and
counted. With WINEPREFIX set, the processor time of that prefix's wineserver during the run is
added: the server works for the run but is no child of it.

Prints (and writes to FILE) JSON: the commands, each run's figures, each command's median, and
for every two commands the median of their round-by-round ratios."""
import argparse
import ctypes
import json
import os
import resource
import shlex
import statistics
import subprocess
import sys
import time

PR_SET_CHILD_SUBREAPER = 36
# Processes a run leaves behind are waited for this long before the next run starts.
LEFT_BEHIND_SECONDS = 5


def wineserver_pid():
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        return None
    # The server works in a folder named after the prefix's device and inode.
    info = os.stat(prefix)
    name = "/server-%x-%x" % (info.st_dev, info.st_ino)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith(name):
                return pid
        except OSError:
            pass
    return None


def processor_seconds(server):
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    total = usage.ru_utime + usage.ru_stime
    if server:
        with open(f"/proc/{server}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return total


def reap(deadline):
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            if time.monotonic() > deadline:
                return
            time.sleep(0.002)


def run_once(argv, server):
    before = processor_seconds(server)
    start = time.perf_counter()
    code = subprocess.call(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if code != 0:
        sys.exit(f"alternate.py: {shlex.join(argv)} ended with {code}")
    reap(time.monotonic() + LEFT_BEHIND_SECONDS)
    return wall, processor_seconds(server) - before


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, required=True)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--json")
    parser.add_argument("commands", nargs="+")
    args = parser.parse_args()
    if ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("alternate.py: cannot become the subreaper of the runs")
    server = wineserver_pid()
    argvs = [shlex.split(c) for c in args.commands]
    rounds = []
    for i in range(args.warmup + args.runs):
        measured = [run_once(argv, server) for argv in argvs]
        if i >= args.warmup:
            rounds.append(measured)
    result = {"commands": args.commands, "runs": args.runs, "wineserver": bool(server)}
    for n, kind in enumerate(("wall", "cpu")):
        figures = [[run[n] for run in measured] for measured in rounds]
        result[kind] = figures
        result[kind + "_median"] = [statistics.median(f[c] for f in figures)
                                    for c in range(len(argvs))]
        # "j/i": the median over the rounds of command j's figure to command i's (from 0).
        result[kind + "_ratio_median"] = {
            f"{j}/{i}": statistics.median(f[j] / f[i] for f in figures)
            for j in range(len(argvs)) for i in range(j)}
    text = json.dumps(result)
    if args.json:
        with open(args.json, "w") as out:
            out.write(text + "\n")
    print(text)


if __name__ == "__main__":
    main()
