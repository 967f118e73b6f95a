#!/usr/bin/env python3
"""The report of a replay (scripts/replay.sh): what the program did on each copy of the capture,
and why, in report.txt for a person and report.json for tools (schema: report.schema.json).

  report.py OUT --capture CAPTURE --run MODE:EXIT:FIRST:END [--run ...] [--answer A] [--at T]
            [--set S.K=V ...]

OUT holds machine-MODE/ (the copy the program ran on), server.log (the loopback server's
requests; FIRST to END are those of that mode's run) and output-MODE.txt. Every value comes from
what the run logged and journaled, the server's log and the capture's own files: nothing of the
program's decisions is worked out a second time here.
"""

import argparse
import base64
import datetime
import glob
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import replay_files as rf  # noqa: E402

SCHEMA_VERSION = 1
STANDIN_KEY = b"VERUZE-XmlEncryptor-stand-in"

EXIT_MEANINGS = {
    0: "normal end",
    1: "a previous instance of the program is still running",
    2: "the agent is not registered (no RegID, or no installation folder)",
    3: "another copy is running",
    4: "the agent is not configured",
    5: "the restart was requested",
    6: "the restart was refused",
    64: "the machine folder cannot be used",
    70: "a failure escaped every trap",
}

UPTIME_METHODS = {
    "FN_CollectSysLastReboot": "WMI LastBootUpTime (Win32_OperatingSystem)",
    "getSystemUPTimeByWMI": "WMI SystemUpTime (Win32_PerfFormattedData_PerfOS_System)",
    "getSystemUPTimeByAPI": "tick count (GetTickCount64)",
}

# What a replay does without a read that failed, by the start of what was not read.
ASSUMPTIONS = [
    (r"HKLM\\SOFTWARE\\(WOW6432Node\\)?VERUZE", "the agent key reads as missing in that view: the agent counts as not registered there"),
    (r"HKLM\\SOFTWARE\\(WOW6432Node\\)?Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update",
     "the reboot-required flag reads as clear"),
    (r"HKLM\\SOFTWARE\\(WOW6432Node\\)?Microsoft\\Windows NT\\CurrentVersion",
     "that value reads as empty: without the product name the Windows 10 step does not apply"),
    (r"HKLM\\SOFTWARE\\(WOW6432Node\\)?Policies", "the update policy key reads as missing"),
    (r"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing", "that signal is unknown"),
    (r"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "that signal is unknown"),
    (r"HKLM\\SOFTWARE\\Microsoft\\Updates", "that signal is unknown"),
    (r"HKLM\\SYSTEM\\CurrentControlSet\\Control\\ComputerName", "that signal is unknown"),
    (r"Environment\.", "the variable is taken from the replaying host, or is unset"),
    (r".*\\wpConfig\.xml$", "no configuration: the run ends as on a machine whose configuration cannot be read"),
    (r".*\\Bellhop_[^\\]*\.ini$", "that result file is missing from the replay"),
    (r".*\\PatchScanDate\.ini$", "no last scan date"),
    ("", "the replay runs without it"),
]


# --- what the run left behind ----------------------------------------------------------------


def log_records(machine, capture):
    """The run's activity log records (lines added to the capture's copy of the log) as field
    lists, and the log's Windows path."""
    found = [p for p in glob.glob(os.path.join(machine, "drives", "**", "*"), recursive=True)
             if re.match(r"^wppatchSch_.*_patchlog\.log$", os.path.basename(p), re.I)]
    if not found:
        return [], None
    path = found[0]
    relative = os.path.relpath(path, machine)
    before = os.path.join(capture, relative)
    offset = os.path.getsize(before) if os.path.isfile(before) else 0
    data = rf.read_text(path) or ""
    if len(data) < offset:
        offset = 0
    lines = [line for line in data[offset:].replace("\r", "").split("\n") if line]
    parts = relative.split(os.sep)
    windows = parts[1].upper() + ":\\" + "\\".join(parts[2:])
    return lines, windows


def fields(line):
    """dtime, form, module, type, val1... of a record; header lines give None."""
    if line.startswith("#"):
        return None
    parts = line.split("\t")
    return parts + [""] * (8 - len(parts))


def server_requests(path):
    """Every request of the loopback server's log: (request line, body)."""
    data = rf.read_text(path) or ""
    requests, pos = [], 0
    while pos < len(data):
        end = data.find("\n", pos)
        if end < 0 or not data.startswith("REQUEST ", pos):
            break
        pos = end + 1
        end = data.find("\n", pos)
        line = data[pos:end]
        if line == "END":
            requests.append(("(refused)", ""))
            pos = end + 1
            continue
        head = data.find("\nBODY ", pos)
        size_end = data.find("\n", head + 6)
        length = int(data[head + 6:size_end])
        body = data[size_end + 1:size_end + 1 + length]
        pos = size_end + 1 + length + len("\nEND\n")
        requests.append((line, body.encode("latin-1").decode("utf-8", "replace")))
    return requests


def decipher(body):
    """A body with each CDATA section deciphered as the stand-in text encryptor enciphers."""
    def clear(match):
        try:
            raw = base64.b64decode(match.group(1), validate=True)
            text = bytes(b ^ STANDIN_KEY[i % len(STANDIN_KEY)] for i, b in enumerate(raw))
            return text.decode("utf-8")
        except ValueError:
            return match.group(0)

    return re.sub(r"<!\[CDATA\[(.*?)\]\]>", clear, body, flags=re.S)


def parse_time(text):
    """A date-time as the program writes it (3/9/2024 14:5:7) or as facts give it."""
    for form in ("%m/%d/%Y %H:%M:%S", "%Y-%m-%d %H:%M:%S", "%m/%d/%Y %I:%M:%S %p"):
        try:
            return datetime.datetime.strptime(text.strip(), form)
        except ValueError:
            pass
    return None


def age_text(seconds):
    if seconds is None:
        return "age unknown"
    sign, seconds = ("-", -seconds) if seconds < 0 else ("", seconds)
    days, rest = divmod(int(seconds), 86400)
    return f"{sign}{days}d {rest // 3600}h {rest // 60 % 60}m"


def stamp(path):
    return datetime.datetime.fromtimestamp(os.path.getmtime(path)).strftime("%Y-%m-%d %H:%M:%S")


# --- one mode ----------------------------------------------------------------------------------


class Mode:
    def __init__(self, out, capture, word, code, first, end, requests):
        self.word, self.code = word, code
        self.machine = os.path.join(out, "machine-" + word)
        self.capture = capture
        self.lines, self.log_path = log_records(self.machine, capture)
        self.records = [f for f in (fields(line) for line in self.lines) if f]
        self.journal = (rf.read_text(os.path.join(self.machine, "journal.log")) or "").replace("\r", "").splitlines()
        self.requests = requests[first:end]
        self.facts = rf.ini_sections(rf.read_text(os.path.join(self.machine, "machine.ini")))
        self.notes = rf.ini_sections(rf.read_text(os.path.join(capture, "capture.ini")))
        self.now = parse_time(rf.ini_get(self.facts, "Clock", "Now") or rf.ini_get(self.notes, "Capture", "LocalTime"))
        self.gates, self.effects = [], {}
        self.flow_failure = None

    def find(self, module=None, val1=None, prefix=None):
        for record in self.records:
            if module and record[2] != module:
                continue
            if val1 is not None and record[4] != val1:
                continue
            if prefix is not None and not record[4].startswith(prefix):
                continue
            return record
        return None

    def gate(self, name, value):
        self.gates.append({"gate": name, "value": value})

    def capture_file(self, windows_path):
        return rf.host_path(self.capture, windows_path) if windows_path else None

    # The start-up: how far the run came.
    def startup(self):
        read = self.find("InitializeEXE", "Read File Patch")
        written = self.find("InitializeEXE", "Write File Patch")
        self.latest = read[5] if read else ""
        self.state_file = written[5] if written else ""
        if self.code in (1, 2, 3, 4, 64, 70) or not read:
            ended = EXIT_MEANINGS.get(self.code, "exit code %d" % self.code)
            last = self.records[-1][4] if self.records else "nothing logged"
            self.gate("start-up", f"the run ends at start-up, exit code {self.code}: {ended} (last log line: {last})")
            self.startup_end = ended if self.code in EXIT_MEANINGS and self.code not in (0, 5, 6) else \
                f"the run ends at start-up ({last})"
            return False
        self.gate("start-up", f"passed; newest result file {self.latest}, reboot state file {self.state_file}")
        self.startup_end = None
        return True

    def flag(self):
        status = self.find("fncRebootPending")
        text = status[4] if status else ""
        if self.word == "RBT":
            is_set = self.find("Main", "Reboot key found. Reboot is required for the System.") is not None
        else:
            is_set = text.endswith(" 0")
        self.flag_set = is_set
        self.gate("reboot-required flag", ("set" if is_set else "clear") + (f" ({text})" if text else ""))

    def result_file(self, windows_path):
        """Time, owner and answer of a result file of the capture."""
        path = self.capture_file(windows_path)
        if not path or not os.path.isfile(path):
            return None
        values = rf.ini_sections(rf.read_text(path))
        owner = rf.ini_get(self.facts, "FileOwners", windows_path) or "not captured"
        return {"path": windows_path, "written": stamp(path), "owner": owner,
                "TimerPM": rf.ini_get(values, "RebootStatus", "TimerPM"), "values": values}

    # --- RBT --------------------------------------------------------------------------------

    def rbt(self):
        self.win10()
        self.flag()
        latest = self.result_file(self.latest)
        since = latest and rf.ini_get(latest["values"], "RebootStatus", "WPMRbtRequiredON")
        if not self.flag_set:
            self.pending = "no reboot pending"
            self.gate("pending record", f"cleared by this run (\"PendingWTPM\" in the newest result file: "
                                        f"\"{latest and rf.ini_get(latest['values'], 'RebootStatus', 'PendingWTPM')}\")")
        elif not self.find("FlushWRBTINI"):
            # Recorded by an earlier run: its first-seen time stays.
            first = parse_time(since or "")
            age = (self.now - first).total_seconds() if first and self.now else None
            self.pending = f"reboot pending since {since}"
            self.gate("pending record", f"first seen {since} (\"WPMRbtRequiredON\" in {self.latest}), {age_text(age)} ago")
        else:
            self.pending = "reboot pending, first seen by this run"
            self.gate("pending record", "none yet: this run records it (\"PendingWPM\" = \"1\", \"WPMRbtRequiredON\" = now)")

        install = rf.ini_get(self.notes, "Capture", "InstallationPath")
        prompt = install + "Bellhop.exe"
        launch = [j for j in self.journal if j.startswith("CreateProcessAsUser ")]
        shell = [j for j in self.journal if j.startswith("ShellExecuteEx ") and "Bellhop.exe" in j]
        if self.find("CallRebootUI", "Bellhop.exe File not found. "):
            self.prompt = None
            self.gate("prompt program", f"not installed: {prompt}")
        elif launch:
            m = re.search(r"session=(\S+) user=(\S+)", launch[0])
            ok = " pid=" in launch[0]
            self.prompt = f"the prompt program for {m.group(2)} in session {m.group(1)}"
            self.prompt_failed = None if ok else re.search(r"failed error=(\d+)", launch[0]).group(1)
            self.gate("prompt program", f"{prompt}, started in the console user's session: {self.prompt}"
                      + ("" if ok else f" (refused, error {self.prompt_failed})"))
        elif shell:
            self.prompt = "the prompt program in the system account"
            self.prompt_failed = None if " pid=" in shell[0] else re.search(r"failed error=(\d+)", shell[0]).group(1)
            self.gate("prompt program", f"{prompt}, nobody logged on: started in the system account with \" AUTOSRBT\"")
        else:
            self.prompt = None
            error = next((r for r in self.records if r[3] == "ERROR"), None)
            self.gate("prompt program", f"{prompt}, not started" + (f": {error[4]} {error[5]}".rstrip() if error else ""))

        newest = self.newest_result()
        answered = self.find("CallRebootUI", "Rebooting system through Bellhop in SYSTEM Account") is not None
        if newest:
            self.gate("newest result file", f"{newest['path']}, written {newest['written']}, owner {newest['owner']}, "
                                            f"\"TimerPM\" = \"{newest['TimerPM']}\"")
        else:
            self.gate("newest result file", "none")
        for record in self.records:
            if record[2] == "ReadLatestBellhopFile" and record[3] == "ERROR":
                self.gate("result file passed over", " ".join(v for v in record[4:7] if v))
        self.gate("answer", "restart now (\"TimerPM\" = \"1\")" if answered else "no restart (\"TimerPM\" is not \"1\")")
        posted = self.find("CallRebootUI", None, "Sent Webpost") or self.find("CallRebootUI", None, "Failed to send Webpost")
        if answered:
            self.gate("alert suspension", posted[4].strip() if posted else "not sent: the agent is not of type \"TRLA\"")

    def newest_result(self):
        data = rf.ini_get(self.notes, "Capture", "DataFolder")
        folder = rf.host_path(self.machine, data) if data else None
        if not folder or not os.path.isdir(folder):
            return None
        # Files the run passed over are named in its log; the reboot state file is written again
        # by the restart itself, after the answer was read.
        passed_over = {r[5].rsplit("\\", 1)[-1].upper() for r in self.records
                       if r[2] == "ReadLatestBellhopFile" and r[4].endswith(", not taken")}
        names = [n for n in os.listdir(folder)
                 if "BELLHOP_" in n.upper() and n.upper().endswith(".INI") and n.upper() not in passed_over
                 and os.path.isfile(os.path.join(folder, n))]
        state = self.state_file.rsplit("\\", 1)[-1].upper() if self.effects_restart() else None
        others = [n for n in names if n.upper() != state] or names
        if not others:
            return None
        name = max(others, key=lambda n: os.path.getmtime(os.path.join(folder, n)))
        path = os.path.join(folder, name)
        values = rf.ini_sections(rf.read_text(path))
        return {"path": data + name, "written": stamp(path),
                "owner": rf.ini_get(self.facts, "FileOwners", data + name) or "not captured",
                "TimerPM": rf.ini_get(values, "RebootStatus", "TimerPM")}

    def win10_changes(self):
        """The policy value and the task files that the Windows 10 step changed, from its log."""
        return [" ".join(v for v in r[4:8] if v) for r in self.records
                if r[2] in ("SetRegDwordValue64", "subRenameTaskFolderForRebootJob") and r[3] == "INFO"
                and "successfully" in r[4].lower()]

    def effects_restart(self):
        return any(j.startswith("InitiateSystemShutdown ") for j in self.journal)

    def win10(self):
        keys = rf.reg_keys(os.path.join(self.capture, "registry", "HKLM.reg"))
        product = rf.reg_string(keys.get(r"SOFTWARE\MICROSOFT\WINDOWS NT\CURRENTVERSION", {}).get("PRODUCTNAME", "")) or ""
        install = rf.ini_get(self.notes, "Capture", "InstallationPath")
        sch = self.capture_file(install + r"BaseComponents\PatchManagement\SchPatch.ini")
        optin = rf.ini_get(rf.ini_sections(rf.read_text(sch) if sch else ""), "SchTime", "Win10Optin")
        skipped = self.find(None, None, "Windows 10 reboot settings left unchanged")
        if "Windows 10" not in product:
            value = f"does not apply: product name \"{product}\""
        elif skipped:
            value = f"skipped: Win10Optin not readable (\"{skipped[5]}\")"
        elif not self.find("subSuppressRebootNotification"):
            value = f"left as it is: Win10Optin = \"{optin}\""
        else:
            state = self.find("subDisableRebootNotification", None, "Current Reboot Task state : ")
            changes = self.win10_changes() + [j[len("Task "):] for j in self.journal if j.startswith("Task ")]
            value = f"applied: Win10Optin = \"{optin}\" ({product})" + \
                (f", reboot task state {state[4].split(' : ', 1)[1]}" if state else "") + \
                f"; would change: {'; '.join(changes) or 'nothing'}"
        self.gate("Windows 10 step", value)

    # --- RBTASSESS --------------------------------------------------------------------------

    def assess(self):
        scan = self.find("CallRBTAssess", None, "Last Assess Scan date : ")
        invalid = self.find("CallRBTAssess", None, "Last Assess Scan date is not in Valid Date Format. - ")
        compare = self.find("CallRBTAssess", None, "Comparing Last Scandate with SystemUpTime.")
        numbers = re.findall(r"-?\d+", compare[4]) if compare else []
        age = int(numbers[-1]) if numbers else None
        if invalid:
            self.gate("last scan", f"not a valid date: \"{invalid[4].split(' - ', 1)[1]}\"")
            self.outcome = f"nothing to do: no valid last scan date (\"LastScandate\" = \"{invalid[4].split(' - ', 1)[1]}\")"
            return
        self.gate("last scan", (scan[4].split(" : ", 1)[1] if scan else "not read")
                  + (f", {age_text(age)} ago ({age} s)" if age is not None else ""))
        if age is None:
            self.outcome = "nothing to do: the last scan's age was not compared with the up-time"
        self.flag()
        uptime = next((r for r in self.records if r[4].startswith("System Up time is [ ")), None)
        if uptime:
            seconds = int(re.search(r"-?\d+", uptime[4]).group(0))
            self.gate("up-time", f"{seconds} s ({age_text(seconds)}), answered by {UPTIME_METHODS.get(uptime[2], uptime[2])}")
        else:
            self.gate("up-time", "unknown: no method answered")
            self.outcome = "nothing to do: the up-time cannot be read"
            return
        if age is None:
            return
        due = self.find("CallRBTAssess", "SystemUpTime more than LastScandateTime, assessment not required.") is None
        self.gate("assessment due", f"yes: up-time {seconds} s is less than the last scan's age {age} s" if due
                  else f"no: up-time {seconds} s is not less than the last scan's age {age} s")
        if not due:
            self.outcome = "nothing to do: the last scan is newer than the last start of the system"
            return
        reason = self.find("CallRBTAssess", None, "StrRbtPendingInRegistry : ")
        recorded, now, own = (re.findall(r": ([^|]*)", reason[4]) + ["", "", ""])[:3] if reason else ("", "", "")
        recorded, now, own = recorded.strip(), now.strip(), own.strip()
        self.gate("reason to assess", f"recorded flag \"{recorded}\", flag now \"{now}\", "
                                      f"restart by the scheduler (\"PatchAssess\"/\"RBT\") \"{own}\"")
        if self.find("CallRBTAssess", "Already executed on the System, sent assessment/failure"):
            self.gate("already assessed", "yes (\"Manual\"/\"RBTAssess\" = \"1\")")
            self.outcome = "nothing to do: an assessment was already started since the last restart (\"Manual\"/\"RBTAssess\" = \"1\")"
            return
        if not self.find("CallRBTAssess", "SystemUpTime less than LastScandateTime, Performing Assessment"):
            self.outcome = (f"nothing to do: no reason to assess (recorded flag \"{recorded}\", flag now \"{now}\", "
                            f"no restart by the scheduler)")
            return
        self.gate("already assessed", "no")
        missing = self.find("CallRBTAssess", None, "File Not Exist on Path - ")
        started = [j for j in self.journal if j.startswith("ShellExecuteEx ") and "Quillon.exe" in j]
        if missing:
            path = missing[4].split(" - ", 1)[1]
            self.gate("patch program", f"not installed: {path}")
            self.outcome = f"nothing to do: an assessment is due, but the patch program is not installed at {path}"
        elif started and " pid=" in started[0]:
            self.gate("patch program", re.search(r"file=(.*?) parameters=", started[0]).group(1))
            self.outcome = "would start the assessment"
        else:
            error = next((r for r in self.records if r[3] == "ERROR"), None)
            why = " ".join(v for v in error[4:7] if v) if error else (started[0] if started else "not started")
            self.gate("patch program", f"not started: {why}")
            self.outcome = f"nothing to do: an assessment is due, but the patch program is not started ({why})"

    # --- both ----------------------------------------------------------------------------------

    def read_effects(self):
        programs, tasks, events, restart, posts = [], [], [], None, {}
        for line in self.journal:
            if line.startswith("CreateProcessAsUser "):
                m = re.search(r"session=(\S+) user=(\S+) .*application=(.*) cmdline=\"(.*)\"( pid=\d+| failed error=\d+)", line)
                if m:
                    programs.append({"how": "CreateProcessAsUser", "session": m.group(1), "user": m.group(2),
                                     "program": m.group(3), "command_line": m.group(4), "result": m.group(5).strip()})
            elif line.startswith("ShellExecuteEx "):
                m = re.search(r"file=(.*) parameters=\"(.*)\" show=\S+ account=(\S+) (pid=\d+|failed error=\d+|zone prompt)", line)
                if m:
                    programs.append({"how": "ShellExecuteEx", "session": "0", "user": m.group(3),
                                     "program": m.group(1), "command_line": m.group(2), "result": m.group(4)})
            elif line.startswith("Task "):
                tasks.append(line[len("Task "):])
            elif line.startswith("ReportEvent "):
                events.append(line[len("ReportEvent "):])
            elif line.startswith("InitiateSystemShutdown "):
                restart = {"request": line[len("InitiateSystemShutdown "):], "accepted": line.endswith(" accepted")}
            elif line.startswith("HttpPost "):
                address, outcome = re.match(r"HttpPost (\S+) (.*)$", line).groups()
                posts.setdefault(address, {"address": address, "tries": 0, "outcomes": [], "bodies": []})
                posts[address]["tries"] += 1
                posts[address]["outcomes"].append(outcome)
        for line, body in self.requests:
            m = re.match(r"POST (\S+) ", line)
            for address, post in posts.items():
                if m and address.endswith(m.group(1)) and "127.0.0.1" in address:
                    text = decipher(body) if m.group(1).endswith("&ec=256") else body
                    if text not in post["bodies"]:
                        post["bodies"].append(text)
        changed = self.win10_changes()
        self.effects = {"programs_started": programs, "tasks_changed": tasks, "policy_and_task_files_changed": changed,
                        "posts": list(posts.values()), "event_records": events, "restart_request": restart}

    def run(self):
        if self.startup():
            if self.word == "RBT":
                self.rbt()
            else:
                self.assess()
            # A failure that the flow's own trap caught ends the flow where it stood.
            trap = self.find("CallRebootUI" if self.word == "RBT" else "CallRBTAssess")
            trapped = [r for r in self.records if r[2] == trap[2] and r[3] == "ERROR"] if trap else []
            if trapped:
                why = " ".join(v for v in trapped[0][4:7] if v)
                self.gate("flow ended by a failure", why)
                self.flow_failure = f"the flow ends with a failure ({why})"
        self.read_effects()
        return self.verdict()

    def verdict(self):
        if self.startup_end:
            return "nothing to do: " + self.startup_end
        if self.flow_failure and not self.effects["restart_request"]:
            return "nothing to do: " + self.flow_failure
        if self.word == "RBTASSESS":
            return self.outcome
        restart = self.effects["restart_request"]
        if restart:
            if restart["accepted"]:
                return "would restart now (\"TimerPM\" = \"1\" in the newest result file)"
            error = re.search(r"refused error=(\d+)", restart["request"])
            return f"would restart now, but Windows refuses the request (error {error.group(1) if error else '?'})"
        if self.prompt:
            if getattr(self, "prompt_failed", None):
                return f"would try to start {self.prompt}, which is refused (error {self.prompt_failed}): {self.pending}"
            return f"would start {self.prompt}: {self.pending}"
        prompt_gate = next(g["value"] for g in self.gates if g["gate"] == "prompt program")
        return f"nothing to do: the prompt program is {prompt_gate} ({self.pending})"

    def as_json(self, verdict):
        output = rf.read_text(os.path.join(os.path.dirname(self.machine), f"output-{self.word}.txt")) or ""
        return {"mode": self.word, "verdict": verdict, "exit_code": self.code,
                "exit_meaning": EXIT_MEANINGS.get(self.code, "unknown"), "gates": self.gates,
                "effects": self.effects, "log_file": self.log_path, "log": self.lines,
                "journal": self.journal, "output": output.splitlines()}


# --- what the capture holds beside the runs ------------------------------------------------------


def signals(capture, failed):
    keys = rf.reg_keys(os.path.join(capture, "registry", "HKLM.reg"))

    def unreadable(key):
        for what, result in failed:
            if what.upper().startswith("HKLM\\" + key.upper()) and result != "absent":
                return result
        return None

    rows = []
    cbs = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending"
    session = r"SYSTEM\CurrentControlSet\Control\Session Manager"
    updates = r"SOFTWARE\Microsoft\Updates"
    active = r"SYSTEM\CurrentControlSet\Control\ComputerName\ActiveComputerName"
    pending = r"SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName"

    def row(signal, key, present, detail=""):
        refused = unreadable(key)
        if refused:
            rows.append({"signal": signal, "state": "unknown", "detail": f"not readable ({refused})"})
        else:
            rows.append({"signal": signal, "state": "present" if present else "absent", "detail": detail})

    row("Component Based Servicing RebootPending", cbs, cbs.upper() in keys)
    renames = keys.get(session.upper(), {}).get("PENDINGFILERENAMEOPERATIONS")
    count = 0
    if renames and renames.lower().startswith("hex(7):"):
        raw = bytes(int(b, 16) for b in renames[7:].split(",") if b.strip())
        count = len([p for p in raw.decode("utf-16-le", "replace").split("\0") if p]) // 2
    row("Session Manager PendingFileRenameOperations", session, renames is not None,
        f"{count} renames" if renames is not None else "")
    volatile = keys.get(updates.upper(), {}).get("UPDATEEXEVOLATILE")
    row("Updates UpdateExeVolatile", updates, volatile is not None and volatile != "dword:00000000",
        volatile or "")
    now = rf.reg_string(keys.get(active.upper(), {}).get("COMPUTERNAME", "")) or ""
    then = rf.reg_string(keys.get(pending.upper(), {}).get("COMPUTERNAME", "")) or ""
    row("pending computer-name change", active, bool(now and then and now.upper() != then.upper()),
        f"active \"{now}\", after the restart \"{then}\"" if now or then else "")
    return rows


def gaps(failed):
    rows = []
    for what, result in failed:
        assumed = next(text for pattern, text in ASSUMPTIONS if re.match(pattern, what, re.I))
        if result == "absent":
            assumed = "not on the machine; the replay has none either"
        else:
            assumed = "not readable; the replay runs as if it were absent: " + assumed
        rows.append({"read": what, "result": result, "assumed": assumed})
    return rows


def text_report(report):
    out = [report["verdict"], ""]
    c = report["capture"]
    out.append(f"Capture {c['path']}: taken {c['local_time']} local ({c['utc_time']} UTC, bias {c['bias']}), "
               f"redaction {c['redaction']}, capture program {c['version']}")
    w = report["what_if"]
    out.append(f"What-if: answer {w['answer']}, clock {w['at'] or 'as captured'}, facts set: {', '.join(w['set']) or 'none'}")
    for mode in report["modes"]:
        out += ["", f"== {mode['mode']}: {mode['verdict']}", f"exit code {mode['exit_code']} ({mode['exit_meaning']})", "", "Gates, in the flow's order:"]
        out += [f"  {g['gate']}: {g['value']}" for g in mode["gates"]]
        e = mode["effects"]
        out += ["", "Effects (journal):"]
        for p in e["programs_started"]:
            out.append(f"  program started: {p['program']} by {p['how']}, session {p['session']}, user {p['user']}, "
                       f"command line \"{p['command_line']}\", {p['result']}")
        out += [f"  task changed: {t}" for t in e["tasks_changed"]]
        out += [f"  policy / task file changed: {t}" for t in e["policy_and_task_files_changed"]]
        for p in e["posts"]:
            out.append(f"  post: {p['address']}, {p['tries']} tries ({'; '.join(p['outcomes'])})")
            out += [f"    body: {b}" for b in p["bodies"]]
        out += [f"  event record: {t}" for t in e["event_records"]]
        if e["restart_request"]:
            out.append(f"  restart request: {e['restart_request']['request']}")
        if not any(e.values()):
            out.append("  none")
        out += ["", f"Log lines of the run ({mode['log_file'] or 'no log'}):"]
        out += ["  " + line for line in mode["log"]] or ["  none"]
    out += ["", "Signals of a pending restart that the program does not read:"]
    out += [f"  {s['signal']}: {s['state']}" + (f" ({s['detail']})" if s["detail"] else "") for s in report["signals_not_read"]]
    out += ["", "What the capture could not read, and what the replay therefore assumes:"]
    out += [f"  {g['read']}: {g['result']}; {g['assumed']}" for g in report["capture_gaps"]] or ["  nothing"]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--capture", required=True)
    parser.add_argument("--run", action="append", default=[])
    parser.add_argument("--answer", default="none")
    parser.add_argument("--at")
    parser.add_argument("--set", action="append", default=[])
    args = parser.parse_args()

    notes = rf.ini_sections(rf.read_text(os.path.join(args.capture, "capture.ini")))
    failed = notes.get("FAILED", [])
    requests = server_requests(os.path.join(args.out, "server.log"))
    modes, verdicts = [], []
    for run in args.run:
        word, code, first, end = run.split(":")
        mode = Mode(args.out, args.capture, word, int(code), int(first), int(end), requests)
        verdict = mode.run()
        verdicts.append(f"{word}: {verdict}")
        modes.append(mode.as_json(verdict))
    report = {
        "schema_version": SCHEMA_VERSION,
        "verdict": "; ".join(verdicts),
        "capture": {"path": args.capture, "version": rf.ini_get(notes, "Capture", "Version"),
                    "local_time": rf.ini_get(notes, "Capture", "LocalTime"), "utc_time": rf.ini_get(notes, "Capture", "UtcTime"),
                    "bias": rf.ini_get(notes, "Capture", "Bias"), "windows_build": rf.ini_get(notes, "Capture", "WindowsBuild"),
                    "redaction": rf.ini_get(notes, "Capture", "Redaction")},
        "what_if": {"answer": args.answer, "at": args.at, "set": args.set},
        "modes": modes,
        "signals_not_read": signals(args.capture, failed),
        "capture_gaps": gaps(failed),
    }
    with open(os.path.join(args.out, "report.json"), "w", encoding="utf-8") as f:
        json.dump(report, f, indent=2, ensure_ascii=False)
        f.write("\n")
    with open(os.path.join(args.out, "report.txt"), "w", encoding="utf-8") as f:
        f.write(text_report(report))


if __name__ == "__main__":
    main()
