#!/usr/bin/env python3
"""Completes a copy of a capture so that the Linux program can run on it (scripts/replay.sh):

  prepare.py MACHINE --standins DIR --port N [--answer restart|later|none] [--at TIME]
             [--set Section.Key=Value ...]

- the stand-ins of Bellhop.exe, Quillon.exe and Cryptel.dll at the paths that capture.ini's
  [Programs] notes as present (size, version); absent or unreadable ones stay absent, and no
  other file of the copy can be run (files of those names go, every other loses its execute
  bits);
- Bellhop.behaviour beside the prompt stand-in: with --answer restart or later it writes the
  result file of the console user (else of the program's account) in the data folder, "TimerPM"
  = "1" or "0" as the prompt program writes it for "restart now" and "later"; none: no answer;
- every web address pointed at http://127.0.0.1:N: the hosts of the post services of the clear
  configuration (scheme "0", http) and the URL= values of every Hostbook.ini;
- the clear configuration enciphered for the stand-in cipher library (DIR/encipher);
- --at as [Clock] Now= and each --set as a fact of machine.ini (checked before by check_capture);
  with a pinned local clock, [Clock] SystemClock=pinned.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import replay_files as rf  # noqa: E402

PROGRAMS = {"BELLHOP.EXE": "Bellhop", "QUILLON.EXE": "Quillon", "CRYPTEL.DLL": "Cryptel.dll"}
ANSWERS = {"restart": "1", "later": "0"}
TAG = re.compile(r"<(/?)([A-Za-z_][\w:.-]*)"
                 r"((?:\s+[^\s=/>]+\s*=\s*(?:\"[^\"]*\"|'[^']*'))*)\s*(/?)>")
ATTRIBUTE = re.compile(r"([^\s=/>]+)(\s*=\s*)(\"[^\"]*\"|'[^']*')")


def present(note):
    """A [Programs] note names a present file when it starts with its size."""
    return bool(re.match(r"^\d+(,|$)", note))


def loopback_host(host, port):
    """The host value of a post service pointed at the loopback server: its path prefix kept."""
    rest = host.strip().split("/", 1)
    return f"127.0.0.1:{port}" + ("/" + rest[1] if len(rest) > 1 else "")


def loopback_configuration(xml, port):
    """The post services of every fod/PR4 entry pointed at the loopback server: attribute 4
    (scheme) "0", the non-empty hosts at 5, 6, 8 and 9 at 127.0.0.1:port."""
    out, stack, pos = [], [], 0
    for tag in TAG.finditer(xml):
        closing, name, attributes, empty = tag.groups()
        if closing:
            while stack and stack.pop()[0] != name:
                pass
            continue
        found = list(ATTRIBUTE.finditer(attributes))
        parent_nd = bool(stack) and stack[-1][1]
        inside = parent_nd and stack[-1][0].split(":")[-1].upper() == "PR4"
        ndatapost = name == "fod" and bool(found) and found[0].group(3)[1:-1].upper() == "NDATAPOST"
        if inside and len(found) > 4:
            text = attributes
            for index in sorted({4, 5, 6, 8, 9} & set(range(len(found))), reverse=True):
                value = found[index].group(3)[1:-1]
                if index == 4:
                    value = "0"
                elif not value.strip():
                    continue
                else:
                    value = loopback_host(value, port)
                quote = found[index].group(3)[0]
                start, end = found[index].span(3)
                text = text[:start] + quote + value + quote + text[end:]
            out.append(xml[pos:tag.start(3)] + text)
            pos = tag.end(3)
        if not empty:
            stack.append((name, parent_nd or ndatapost))
    out.append(xml[pos:])
    return "".join(out)


def loopback_hostbook(text, port):
    def repl(match):
        url = match.group(2).strip()
        path = re.sub(r"^[A-Za-z][\w+.-]*://[^/]*", "", url) if "://" in url else ""
        return match.group(1) + f"http://127.0.0.1:{port}" + (path or "/")

    return re.sub(r"(?im)^(\s*URL\s*=)([^\r\n]*)", repl, text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("machine")
    parser.add_argument("--standins", required=True)
    parser.add_argument("--port", required=True)
    parser.add_argument("--answer", default="none", choices=["restart", "later", "none"])
    parser.add_argument("--at")
    parser.add_argument("--set", action="append", default=[])
    args = parser.parse_args()
    machine = args.machine

    notes = rf.ini_sections(rf.read_text(os.path.join(machine, "capture.ini")))
    facts_path = os.path.join(machine, "machine.ini")
    facts = rf.read_text(facts_path) or ""
    # The what-if facts first: the prompt's answer goes where the console user of the what-if
    # would find it. A pinned local clock pins the system clock with it, so that file times are
    # judged by the machine's own clock and files written during the replay are dated by it.
    if args.at:
        facts = rf.ini_set(facts, "Clock", "Now", args.at)
    for change in args.set:
        name, value = change.split("=", 1)
        section, key = name.split(".", 1)
        facts = rf.ini_set(facts, section, key, value)
    facts_ini = rf.ini_sections(facts)
    if rf.ini_get(facts_ini, "Clock", "Now") and not rf.ini_get(facts_ini, "Clock", "SystemClock"):
        facts = rf.ini_set(facts, "Clock", "SystemClock", "pinned")
    rf.write_text(facts_path, facts)

    # A capture holds no programs: whatever a copy holds under the agent's program names goes,
    # and nothing in it may be run, so that only the stand-ins placed below are ever started.
    for root, _, files in os.walk(os.path.join(machine, "drives")):
        for name in files:
            path = os.path.join(root, name)
            if name.upper() in PROGRAMS:
                os.remove(path)
            else:
                os.chmod(path, os.stat(path).st_mode & ~0o111)

    prompt = None
    for path, note in notes.get("PROGRAMS", []):
        stand_in = PROGRAMS.get(path.rsplit("\\", 1)[-1].upper())
        if not stand_in or not present(note):
            continue
        target = rf.host_path(machine, path)
        if not target:
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(os.path.join(args.standins, stand_in), target)
        if stand_in == "Bellhop":
            prompt = target

    if prompt:
        lines = []
        user = rf.ini_get(facts_ini, "Console", "User") or \
            rf.ini_get(facts_ini, "Account", "UserName", "SYSTEM")
        data = rf.ini_get(notes, "Capture", "DataFolder")
        if args.answer in ANSWERS and rf.host_path(machine, f"{data}Bellhop_{user}.ini"):
            lines = [f"result={data}Bellhop_{user}.ini",
                     f"set=RebootStatus|TimerPM|{ANSWERS[args.answer]}"]
        behaviour = os.path.join(os.path.dirname(prompt), "Bellhop.behaviour")
        rf.write_text(behaviour, "".join(line + "\r\n" for line in lines))

    for root, _, files in os.walk(os.path.join(machine, "drives")):
        for name in files:
            if name.upper() == "HOSTBOOK.INI":
                path = os.path.join(root, name)
                stamp = os.stat(path)
                rf.write_text(path, loopback_hostbook(rf.read_text(path), args.port))
                os.utime(path, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))

    clear = rf.ini_get(notes, "Capture", "ClearConfiguration")
    config = rf.host_path(machine, clear) if clear else None
    if config and os.path.isfile(config):
        rf.write_text(config, loopback_configuration(rf.read_text(config), args.port))
        subprocess.run([os.path.join(args.standins, "encipher"), config, config + ".enciphered"],
                       check=True)
        os.replace(config + ".enciphered", config)


if __name__ == "__main__":
    main()
