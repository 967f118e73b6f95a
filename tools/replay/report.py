#!/usr/bin/env python3
"""The report of a replay (scripts/replay.sh): what the program did on each copy of the capture,
and why, in report.txt for a person and report.json for tools (schema: report.schema.json).

  report.py OUT --capture CAPTURE --run MODE:EXIT:FIRST:END [--run ...] [--answer A] [--at T]
            [--set S.K=V ...] [--schema report.schema.json] [--port N]

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
    7: "the restart request was not answered within its bound",
    8: "no restart requested: the restart-loop guard holds",
    64: "the machine folder cannot be used",
    70: "a failure escaped every trap",
    124: "the replay cut the run after 15 minutes",
}

UPTIME_METHODS = {
    "FN_CollectSysLastReboot": "WMI LastBootUpTime (Win32_OperatingSystem)",
    "getSystemUPTimeByWMI": "WMI SystemUpTime (Win32_PerfFormattedData_PerfOS_System)",
    "getSystemUPTimeByAPI": "tick count (GetTickCount64)",
}

# What a replay does without a read that failed, by the start of what was not read.
VIEW = r"HKLM\\SOFTWARE\\(WOW6432Node\\)?"
ASSUMPTIONS = [
    (VIEW + "VERUZE", "the agent key is missing in that view: the agent counts as not registered"),
    (VIEW + r"Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update",
     "the reboot-required flag reads as clear"),
    (VIEW + r"Microsoft\\Windows NT\\CurrentVersion",
     "that value reads as empty: without the product name the Windows 10 step does not apply"),
    (VIEW + "Policies", "the update policy key reads as missing"),
    (r"HKLM\\SOFTWARE\\Microsoft\\(Windows\\CurrentVersion\\Component Based Servicing|Updates|"
     r"WindowsUpdate\\UX)",
     "that signal is unknown"),
    (r"HKLM\\SYSTEM\\CurrentControlSet\\Control\\(Session Manager|ComputerName)",
     "that signal is unknown"),
    (r"KeyTimes\.", "that signal's age is not known"),
    (r"Environment\.", "the variable is taken from the replaying host, or is unset"),
    (r".*\\wpConfig\.xml$",
     "no configuration: the run ends as on a machine whose configuration cannot be read"),
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


def joined(values):
    return " ".join(v for v in values if v)


class Mode:
    """What one run did, read back: its gates in the flow's order, its effects and its verdict."""

    def __init__(self, out, capture, word, code, requests, answer="none"):
        self.word, self.code, self.capture, self.answer = word, code, capture, answer
        self.machine = os.path.join(out, "machine-" + word)
        self.output = os.path.join(out, f"output-{word}.txt")
        self.lines, self.log_path = log_records(self.machine, capture)
        self.records = [f for f in (fields(line) for line in self.lines) if f]
        journal = rf.read_text(os.path.join(self.machine, "journal.log")) or ""
        self.journal = journal.replace("\r", "").splitlines()
        self.requests = requests
        self.facts = rf.ini_sections(rf.read_text(os.path.join(self.machine, "machine.ini")))
        self.notes = rf.ini_sections(rf.read_text(os.path.join(capture, "capture.ini")))
        self.install = rf.ini_get(self.notes, "Capture", "InstallationPath")
        self.now = parse_time(rf.ini_get(self.facts, "Clock", "Now")
                              or rf.ini_get(self.notes, "Capture", "LocalTime"))
        self.gates, self.effects = [], {}
        self.startup_end = self.flow_failure = self.prompt = self.prompt_failed = None
        self.guard_held = None
        self.pending = self.latest = self.state_file = ""
        self.outcome = "nothing to do: the flow ended before its decision"

    def find(self, module=None, val1=None, prefix=None):
        for r in self.records:
            if (module is None or r[2] == module) and (val1 is None or r[4] == val1) and \
                    (prefix is None or r[4].startswith(prefix)):
                return r
        return None

    def journaled(self, start, holding=""):
        return [j for j in self.journal if j.startswith(start) and holding in j]

    def gate(self, name, value):
        self.gates.append({"gate": name, "value": value})

    def owner(self, windows_path):
        """A result file's owner: the capture notes owners that are no trusted account."""
        noted = rf.ini_get(self.facts, "FileOwners", windows_path)
        if noted:
            return noted
        captured = rf.host_path(self.capture, windows_path)
        if not captured or not os.path.exists(captured):
            return "the prompt program's account (written during the replay)"
        return "a trusted account (SYSTEM, the Administrators or TrustedInstaller)"

    def startup(self):
        """How far the run came before its mode's flow."""
        read = self.find("InitializeEXE", "Read File Patch")
        written = self.find("InitializeEXE", "Write File Patch")
        self.latest = read[5] if read else ""
        self.state_file = written[5] if written else ""
        if self.code in (1, 2, 3, 4, 64, 70) or not read:
            last = self.records[-1][4] if self.records else "nothing logged"
            ended = EXIT_MEANINGS.get(self.code, f"exit code {self.code}")
            self.gate("start-up", f"the run ends at start-up, exit code {self.code}: {ended} "
                                  f"(last log line: {last})")
            self.startup_end = ended if self.code not in (0, 5, 6) and self.code in EXIT_MEANINGS \
                else f"the run ends at start-up ({last})"
            return False
        self.gate("start-up", f"passed; newest result file {self.latest}"
                              f"{self.other_account(self.latest)}, "
                              f"reboot state file {self.state_file}")
        return True

    def flag(self):
        status = self.find("fncRebootPending")
        text = status[4] if status else ""
        if self.word == "RBT":
            found = "Reboot key found. Reboot is required for the System."
            is_set = self.find("Main", found) is not None
        else:
            is_set = text.endswith(" 0")
        self.gate("reboot-required flag", ("set" if is_set else "clear")
                  + (f" ({text})" if text else ""))
        return is_set

    # --- RBT --------------------------------------------------------------------------------

    def rbt(self):
        self.win10()
        is_set = self.flag()
        path = rf.host_path(self.capture, self.latest) if self.latest else None
        latest = rf.ini_sections(rf.read_text(path) if path else None)
        since = rf.ini_get(latest, "RebootStatus", "WPMRbtRequiredON")
        if not is_set:
            self.pending = "no reboot pending"
            wtpm = rf.ini_get(latest, "RebootStatus", "PendingWTPM")
            self.gate("pending record", f"cleared by this run (\"PendingWTPM\" in the newest "
                                        f"result file: \"{wtpm}\")")
        elif not self.find("FlushWRBTINI"):
            # Recorded by an earlier run: its first-seen time stays.
            first = parse_time(since)
            age = (self.now - first).total_seconds() if first and self.now else None
            self.pending = f"reboot pending since {since}"
            self.gate("pending record", f"first seen {since} (\"WPMRbtRequiredON\" in "
                                        f"{self.latest}), {age_text(age)} ago")
        else:
            self.pending = "reboot pending, first seen by this run"
            self.gate("pending record", "none yet: this run records it (\"PendingWPM\" = \"1\", "
                                        "\"WPMRbtRequiredON\" = now)")
        if path and os.path.isfile(path):
            self.gate("answer in the capture", f"\"TimerPM\" = \"{rf.ini_get(latest, 'RebootStatus', 'TimerPM')}\" "
                                               f"in {self.latest.rsplit(chr(92), 1)[-1]}, written "
                                               f"{stamp(path)}")
        else:
            self.gate("answer in the capture", "none (no result file)")
        self.restart_guard()
        self.prompt_program()
        newest = self.newest_result()
        if newest:
            self.gate("newest result file", f"{newest['path']}, written {newest['written']}, "
                                            f"owner {newest['owner']}, "
                                            f"\"TimerPM\" = \"{newest['TimerPM']}\""
                      + self.other_account(newest["path"]))
        else:
            self.gate("newest result file", "none")
        for r in self.records:
            if r[2] == "ReadLatestBellhopFile" and r[3] == "ERROR":
                self.gate("result file passed over", joined(r[4:7]))
        answered = self.find("CallRebootUI", "Rebooting system through Bellhop in SYSTEM Account")
        self.gate("answer", "restart now (\"TimerPM\" = \"1\")" if answered
                  else "restart now (\"TimerPM\" = \"1\"), not carried out: the restart-loop "
                  "guard holds" if self.guard_held else "no restart (\"TimerPM\" is not \"1\")")
        if answered:
            posted = self.find("CallRebootUI", None, "Sent Webpost") or \
                self.find("CallRebootUI", None, "Failed to send Webpost")
            self.gate("alert suspension", posted[4].strip() if posted
                      else "not sent: the agent is not of type \"TRLA\"")

    def other_account(self, windows_path):
        """", a result file of another account than the console user's" when it is one."""
        user = rf.ini_get(self.facts, "Console", "User")
        name = windows_path.rsplit("\\", 1)[-1]
        if user and name.upper() != f"BELLHOP_{user}.INI".upper():
            return f" (a result file of another account than the console user {user})"
        return ""

    def restart_guard(self):
        """The restart-loop guard: the state file's section as captured, what the run made of it."""
        path = rf.host_path(self.capture, self.state_file) if self.state_file else None
        section = rf.ini_sections(rf.read_text(path) if path else None)
        held = self.find("CallRebootUI", None, "Restart not requested: ")
        notes = [r[4] for r in self.records if r[2] == "RestartGuard"]
        requests = rf.ini_get(section, "RestartGuard", "Requests")
        if not requests and not notes and not held:
            self.gate("restart guard", "no restart counted for this pending reboot")
            return
        value = (f"{requests or 0} restarts requested since "
                 f"{rf.ini_get(section, 'RestartGuard', 'FirstRequest') or '?'} "
                 f"(last {rf.ini_get(section, 'RestartGuard', 'LastRequest') or '?'}), survived "
                 f"{rf.ini_get(section, 'RestartGuard', 'Survived') or 0} (\"RestartGuard\" in "
                 f"{self.state_file})") if requests else "none counted"
        value += "".join("; " + note for note in notes)
        if held:
            self.guard_held = held[4]
            until = re.search(r"next restart allowed after (.*?) or once", held[4])
            value += f"; holds until {until.group(1) if until else '?'} or the flag clears"
        self.gate("restart guard", value)

    def prompt_program(self):
        path = self.install + "Bellhop.exe"
        launch = self.journaled("CreateProcessAsUser ")
        shell = self.journaled("ShellExecuteEx ", "Bellhop.exe")
        started = launch or shell
        if started and " pid=" not in started[0]:
            failure = re.search(r"failed error=(\d+)", started[0])
            self.prompt_failed = failure.group(1) if failure else "?"
        if self.find("CallRebootUI", "Bellhop.exe File not found. "):
            self.gate("prompt program", f"not installed: {path}")
        elif launch:
            m = re.search(r"session=(\S+) user=(\S+)", launch[0])
            self.prompt = f"the prompt program for {m.group(2)} in session {m.group(1)}"
            self.gate("prompt program", f"{path}, started in the console user's session: "
                                        f"{self.prompt}")
        elif shell:
            self.prompt = "the prompt program in the system account"
            self.gate("prompt program", f"{path}, nobody logged on: started in the system "
                                        "account with \" AUTOSRBT\"")
        else:
            error = next((r for r in self.records if r[3] == "ERROR"), None)
            self.gate("prompt program", f"not started: {path}"
                      + (f" ({joined(error[4:6])})" if error else ""))

    def newest_result(self):
        """The newest result file of the data folder after the run, by last-write time."""
        data = rf.ini_get(self.notes, "Capture", "DataFolder")
        folder = rf.host_path(self.machine, data) if data else None
        if not folder or not os.path.isdir(folder):
            return None
        # Files the run passed over are named in its log; the reboot state file is written again
        # by the restart itself, after the answer was read.
        passed_over = {r[5].rsplit("\\", 1)[-1].upper() for r in self.records
                       if r[2] == "ReadLatestBellhopFile" and r[4].endswith(", not taken")}
        names = [n for n in os.listdir(folder)
                 if "BELLHOP_" in n.upper() and n.upper().endswith(".INI")
                 and n.upper() not in passed_over and os.path.isfile(os.path.join(folder, n))]
        if self.journaled("InitiateSystemShutdown "):
            state = self.state_file.rsplit("\\", 1)[-1].upper()
            names = [n for n in names if n.upper() != state] or names
        if not names:
            return None
        name = max(names, key=lambda n: os.path.getmtime(os.path.join(folder, n)))
        values = rf.ini_sections(rf.read_text(os.path.join(folder, name)))
        return {"path": data + name, "written": stamp(os.path.join(folder, name)),
                "owner": self.owner(data + name),
                "TimerPM": rf.ini_get(values, "RebootStatus", "TimerPM")}

    def win10_changes(self):
        """The policy value and the task files that the Windows 10 step changed, from its log."""
        return [joined(r[4:8]) for r in self.records
                if r[2] in ("SetRegDwordValue64", "subRenameTaskFolderForRebootJob")
                and r[3] == "INFO" and "successfully" in r[4].lower()]

    def win10(self):
        keys = rf.reg_keys(os.path.join(self.capture, "registry", "HKLM.reg"))
        version = keys.get(r"SOFTWARE\MICROSOFT\WINDOWS NT\CURRENTVERSION", {})
        product = rf.reg_string(version.get("PRODUCTNAME", "")) or ""
        sch = rf.host_path(self.capture,
                           self.install + r"BaseComponents\PatchManagement\SchPatch.ini")
        optin = rf.ini_get(rf.ini_sections(rf.read_text(sch) if sch else None), "SchTime",
                           "Win10Optin")
        skipped = self.find(None, None, "Windows 10 reboot settings left unchanged")
        if "Windows 10" not in product:
            value = f"does not apply: product name \"{product}\""
        elif skipped:
            value = f"skipped: Win10Optin not readable (\"{skipped[5]}\")"
        elif not self.find("subSuppressRebootNotification"):
            value = f"left as it is: Win10Optin = \"{optin}\""
        else:
            state = self.find("subDisableRebootNotification", None, "Current Reboot Task state : ")
            tasks = [j[len("Task "):] for j in self.journaled("Task ")]
            value = f"applied: Win10Optin = \"{optin}\" ({product})" \
                + (f", reboot task state {state[4].split(' : ', 1)[1]}" if state else "") \
                + f"; would change: {'; '.join(self.win10_changes() + tasks) or 'nothing'}"
        self.gate("Windows 10 step", value)

    # --- RBTASSESS --------------------------------------------------------------------------

    def assess(self):
        invalid = self.find("CallRBTAssess", None, "Last Assess Scan date is not in Valid Date")
        if invalid:
            text = invalid[4].split(" - ", 1)[1]
            self.gate("last scan", f"not a valid date: \"{text}\"")
            self.outcome = f"nothing to do: no valid last scan date (\"LastScandate\" = \"{text}\")"
            return
        scan = self.find("CallRBTAssess", None, "Last Assess Scan date : ")
        compare = self.find("CallRBTAssess", None, "Comparing Last Scandate with SystemUpTime.")
        numbers = re.findall(r"-?\d+", compare[4]) if compare else []
        age = int(numbers[-1]) if numbers else None
        self.gate("last scan", (scan[4].split(" : ", 1)[1] if scan else "not read")
                  + (f", {age_text(age)} ago ({age} s)" if age is not None else ""))
        self.flag()
        uptime = self.find(None, None, "System Up time is [ ")
        if not uptime:
            self.gate("up-time", "unknown: no method answered")
            self.outcome = "nothing to do: the up-time cannot be read"
            return
        seconds = int(re.search(r"-?\d+", uptime[4]).group(0))
        self.gate("up-time", f"{seconds} s ({age_text(seconds)}), answered by "
                             f"{UPTIME_METHODS.get(uptime[2], uptime[2])}")
        if age is None:
            return
        if self.find("CallRBTAssess", "SystemUpTime more than LastScandateTime, assessment not "
                                      "required."):
            self.gate("assessment due", f"no: up-time {seconds} s is not less than the last "
                                        f"scan's age {age} s")
            self.outcome = "nothing to do: the last scan is newer than the last start of the system"
            return
        self.gate("assessment due", f"yes: up-time {seconds} s is less than the last scan's age "
                                    f"{age} s")
        reason = self.find("CallRBTAssess", None, "StrRbtPendingInRegistry : ")
        values = re.findall(r": ([^|]*)", reason[4]) if reason else []
        recorded, now, own = [v.strip() for v in values + ["", "", ""]][:3]
        self.gate("reason to assess", f"recorded flag \"{recorded}\", flag now \"{now}\", restart "
                                      f"by the scheduler (\"PatchAssess\"/\"RBT\") \"{own}\"")
        if self.find("CallRBTAssess", "Already executed on the System, sent assessment/failure"):
            self.gate("already assessed", "yes (\"Manual\"/\"RBTAssess\" = \"1\")")
            self.outcome = "nothing to do: an assessment was already started since the last " \
                           "restart (\"Manual\"/\"RBTAssess\" = \"1\")"
            return
        if not self.find("CallRBTAssess", "SystemUpTime less than LastScandateTime, Performing "
                                          "Assessment"):
            self.outcome = f"nothing to do: no reason to assess (recorded flag \"{recorded}\", " \
                           f"flag now \"{now}\", no restart by the scheduler)"
            return
        self.gate("already assessed", "no")
        missing = self.find("CallRBTAssess", None, "File Not Exist on Path - ")
        started = self.journaled("ShellExecuteEx ", "Quillon.exe")
        if missing:
            path = missing[4].split(" - ", 1)[1]
            self.gate("patch program", f"not installed: {path}")
            self.outcome = "nothing to do: an assessment is due, but the patch program is not " \
                           f"installed at {path}"
        elif started and " pid=" in started[0]:
            self.gate("patch program", re.search(r"file=(.*?) parameters=", started[0]).group(1))
            self.outcome = "would start the assessment"
        else:
            error = next((r for r in self.records if r[3] == "ERROR"), None)
            why = joined(error[4:7]) if error else (started[0] if started else "not started")
            self.gate("patch program", f"not started: {why}")
            self.outcome = "nothing to do: an assessment is due, but the patch program is not " \
                           f"started ({why})"

    # --- both ----------------------------------------------------------------------------------

    def read_effects(self):
        programs, tasks, events, restart, posts = [], [], [], None, {}
        launch = re.compile(r"session=(\S+) user=(\S+) .*application=(.*) cmdline=\"(.*)\""
                            r" (pid=\d+|failed error=\d+)")
        shell = re.compile(r"file=(.*) parameters=\"(.*)\" show=\S+ account=(\S+) "
                           r"(pid=\d+|failed error=\d+|zone prompt)")
        for line in self.journal:
            word, _, rest = line.partition(" ")
            if word == "CreateProcessAsUser" and launch.search(rest):
                m = launch.search(rest)
                programs.append({"how": word, "session": m.group(1), "user": m.group(2),
                                 "program": m.group(3), "command_line": m.group(4),
                                 "result": m.group(5)})
            elif word == "ShellExecuteEx" and shell.search(rest):
                m = shell.search(rest)
                programs.append({"how": word, "session": "0", "user": m.group(3),
                                 "program": m.group(1), "command_line": m.group(2),
                                 "result": m.group(4)})
            elif word == "Task":
                tasks.append(rest)
            elif word == "ReportEvent":
                events.append(rest)
            elif word == "InitiateSystemShutdown":
                restart = {"request": rest, "accepted": rest.endswith(" accepted")}
            elif word == "HttpPost":
                address, _, outcome = rest.partition(" ")
                post = posts.setdefault(address, {"address": address, "tries": 0, "outcomes": [],
                                                  "bodies": []})
                post["tries"] += 1
                post["outcomes"].append(outcome)
        for line, body in self.requests:
            m = re.match(r"POST (\S+) ", line)
            for address, post in posts.items():
                if m and address.startswith("http://127.0.0.1:") and address.endswith(m.group(1)):
                    text = decipher(body) if m.group(1).endswith("&ec=256") else body
                    if text not in post["bodies"]:
                        post["bodies"].append(text)
        self.effects = {"programs_started": programs, "tasks_changed": tasks,
                        "policy_and_task_files_changed": self.win10_changes(),
                        "posts": list(posts.values()), "event_records": events,
                        "restart_request": restart}

    def run(self):
        if self.startup():
            if self.word == "RBT":
                self.rbt()
            else:
                self.assess()
            # A failure that the flow's own trap caught ends the flow where it stood.
            flow = "CallRebootUI" if self.word == "RBT" else "CallRBTAssess"
            trapped = [r for r in self.records if r[2] == flow and r[3] == "ERROR"
                       and r[4] != self.guard_held]
            if trapped:
                self.gate("flow ended by a failure", joined(trapped[0][4:7]))
                self.flow_failure = f"the flow ends with a failure ({joined(trapped[0][4:7])})"
        self.read_effects()
        return self.verdict()

    def verdict(self):
        restart = self.effects["restart_request"]
        if self.startup_end:
            return "nothing to do: " + self.startup_end
        if self.flow_failure and not restart:
            return "nothing to do: " + self.flow_failure
        if self.word == "RBTASSESS":
            return self.outcome
        if self.guard_held:
            return f"nothing to do: the restart-loop guard holds ({self.guard_held})"
        if restart:
            if restart["accepted"]:
                alone = "; nothing else pending: the restart follows the answer alone" \
                    if self.pending == "no reboot pending" and self.answer == "restart" else ""
                return "would restart now (\"TimerPM\" = \"1\" in the newest result file)" + alone
            error = re.search(r"refused error=(\d+)", restart["request"])
            return "would restart now, but Windows refuses the request " \
                   f"(error {error.group(1) if error else '?'})"
        if self.prompt and self.prompt_failed:
            return f"would try to start {self.prompt}, which is refused " \
                   f"(error {self.prompt_failed}): {self.pending}"
        if self.prompt:
            return f"would start {self.prompt} (no restart unless it answers restart now): " \
                   f"{self.pending}"
        prompt = next(g["value"] for g in self.gates if g["gate"] == "prompt program")
        return f"nothing to do: the prompt program is {prompt} ({self.pending})"

    def as_json(self, verdict):
        output = rf.read_text(self.output) or ""
        return {"mode": self.word, "verdict": verdict, "exit_code": self.code,
                "exit_meaning": EXIT_MEANINGS.get(self.code, "unknown"), "gates": self.gates,
                "effects": self.effects, "log_file": self.log_path, "log": self.lines,
                "journal": self.journal, "output": output.splitlines()}


# --- what the capture holds beside the runs ------------------------------------------------------


FLAG_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired"
# The update stack's state variables: "RebootRequired" = 1 while it holds a restart pending, which
# a plain restart of recent Windows 10 and 11 leaves in place when it removes the flag's key.
UX_KEY = r"SOFTWARE\Microsoft\WindowsUpdate\UX\StateVariables"
HIDDEN = "a restart is pending that this program does not see"


def set_for(seconds):
    """"set for 3 days 4 hours" (minutes under an hour)."""
    if seconds < 0:
        return f"written {set_for(-seconds)[len('set for '):]} after the capture's clock"
    days, rest = divmod(int(seconds), 86400)
    hours, minutes = rest // 3600, rest // 60 % 60
    plural = lambda n, word: f"{n} {word}" + ("" if n == 1 else "s")  # noqa: E731
    if days:
        return f"set for {plural(days, 'day')} {plural(hours, 'hour')}"
    if hours:
        return f"set for {plural(hours, 'hour')} {plural(minutes, 'minute')}"
    return f"set for {plural(minutes, 'minute')}"


class Clock:
    """The capture's clock: its local time and its zone's bias (minutes to add for UTC)."""

    def __init__(self, capture, notes):
        facts = rf.ini_sections(rf.read_text(os.path.join(capture, "machine.ini")))
        self.local = parse_time(rf.ini_get(facts, "Clock", "Now")
                                or rf.ini_get(notes, "Capture", "LocalTime"))
        bias = rf.ini_get(notes, "Capture", "Bias")
        self.bias = datetime.timedelta(minutes=int(bias) if re.match(r"^-?\d+$", bias) else 0)
        self.utc = self.local + self.bias if self.local else None
        self.key_times = {k.upper(): parse_time(v) for k, v in facts.get("KEYTIMES", [])}

    def key_time(self, key):
        """The key's last-write time (UTC) as the capture noted it, or None."""
        return self.key_times.get(key.upper())

    def age(self, since_utc):
        if not since_utc:
            return "age not known (the capture holds no last-write time of the key)"
        if not self.utc:
            return "age not known (the capture holds no clock)"
        return set_for((self.utc - since_utc).total_seconds())


def state_file_first_seen(capture, notes, state_file):
    """The reboot state file's "PendingWPM" and "WPMRbtRequiredON" in the capture, and its path."""
    if not state_file:
        account = rf.ini_get(rf.ini_sections(rf.read_text(os.path.join(capture, "machine.ini"))),
                             "Account", "UserName")
        data = rf.ini_get(notes, "Capture", "DataFolder")
        state_file = f"{data}Bellhop_{account}.ini" if data and account else ""
    path = rf.host_path(capture, state_file) if state_file else None
    values = rf.ini_sections(rf.read_text(path) if path else None)
    return (state_file, rf.ini_get(values, "RebootStatus", "PendingWPM"),
            rf.ini_get(values, "RebootStatus", "WPMRbtRequiredON"))


def unreadable(failed, key):
    return [result for what, result in failed
            if what.upper().startswith("HKLM\\" + key.upper()) and result != "absent"]


def reboot_flag(capture, failed, clock, notes, state_file):
    """The Windows Update flag the program acts on: its key, since when it is set by the key's
    last-write time and by the state file's first-seen time, and whether the two agree."""
    keys = rf.reg_keys(os.path.join(capture, "registry", "HKLM.reg"))
    refused = unreadable(failed, FLAG_KEY.rsplit("\\", 1)[0])
    present = FLAG_KEY.upper() in keys
    written = clock.key_time(FLAG_KEY)
    path, pending, first = state_file_first_seen(capture, notes, state_file)
    first = first if pending == "1" else ""
    first_time = parse_time(first) if first else None
    flag = {"signal": "Windows Update reboot-required flag",
            "state": "unknown" if refused else "present" if present else "absent",
            "source": "HKLM\\" + FLAG_KEY,
            "set_since": written.strftime("%Y-%m-%d %H:%M:%S") if present and written else None,
            "age": clock.age(written) if present else "",
            "state_file": path, "first_seen": first or None,
            "first_seen_age": (set_for((clock.local - first_time).total_seconds())
                               if first_time and clock.local else ""),
            "disagreement": ""}
    if refused:
        flag["age"] = f"not readable ({refused[0]})"
    elif present and written and first_time:
        apart = (first_time + clock.bias - written).total_seconds()
        if abs(apart) > 3600:
            hours = abs(apart) / 3600
            flag["disagreement"] = (
                f"the flag's key was last written {hours:.1f} hours "
                f"{'before' if apart > 0 else 'after'} the state file first saw the pending reboot"
                + (": the key was written again since (a later update, or something else "
                   "re-creating it)" if apart < 0 else
                   ": the flag was set before any run of this program saw it"))
    return flag


def signals(capture, failed, clock, flag_state):
    """The signals of a pending restart that the program does not read, from the captured hive,
    each with its key and since when it is set."""
    keys = rf.reg_keys(os.path.join(capture, "registry", "HKLM.reg"))
    cbs = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending"
    session = r"SYSTEM\CurrentControlSet\Control\Session Manager"
    updates = r"SOFTWARE\Microsoft\Updates"
    names = r"SYSTEM\CurrentControlSet\Control\ComputerName"
    rows = []

    def row(signal, key, present, detail="", timed=None):
        source = "HKLM\\" + key
        refused = unreadable(failed, key)
        if refused:
            rows.append({"signal": signal, "state": "unknown",
                         "detail": f"not readable ({refused[0]})", "source": source,
                         "set_since": None, "age": ""})
            return
        written = clock.key_time(timed or key) if present else None
        rows.append({"signal": signal, "state": "present" if present else "absent",
                     "detail": detail, "source": source,
                     "set_since": written.strftime("%Y-%m-%d %H:%M:%S") if written else None,
                     "age": clock.age(written) if present else ""})

    row("Component Based Servicing RebootPending", cbs, cbs.upper() in keys)
    renames = keys.get(session.upper(), {}).get("PENDINGFILERENAMEOPERATIONS")
    pairs = deletions = 0
    if renames and renames.lower().startswith("hex(7):"):
        # Source and target strings in turn; a deletion is a pair whose target is empty.
        raw = bytes(int(b, 16) for b in renames[7:].split(",") if b.strip())
        items = raw.decode("utf-16-le", "replace").rstrip("\0").split("\0")
        items = items if items != [""] else []
        pairs = (len(items) + 1) // 2
        deletions = sum(1 for i in range(1, len(items) + 1, 2) if i >= len(items) or not items[i])
    row("Session Manager PendingFileRenameOperations", session, renames is not None,
        f"{pairs} renames ({deletions} of them deletions)" if renames is not None else "")
    volatile = keys.get(updates.upper(), {}).get("UPDATEEXEVOLATILE")
    row("Updates UpdateExeVolatile", updates,
        volatile is not None and volatile != "dword:00000000", volatile or "")
    active = keys.get((names + r"\ActiveComputerName").upper(), {}).get("COMPUTERNAME", "")
    after = keys.get((names + r"\ComputerName").upper(), {}).get("COMPUTERNAME", "")
    active, after = rf.reg_string(active) or "", rf.reg_string(after) or ""
    row("pending computer-name change", names,
        bool(active and after and active.upper() != after.upper()),
        f"active \"{active}\", after the restart \"{after}\"" if active or after else "",
        names + r"\ComputerName")
    state = keys.get(UX_KEY.upper(), {}).get("REBOOTREQUIRED")
    pending = state is not None and state.lower() not in ("dword:00000000", '""', "hex:00")
    detail = f"\"RebootRequired\"={state}" if state is not None else ""
    if pending and flag_state == "absent":
        detail += f": {HIDDEN}"
    row("Windows Update UX state RebootRequired", UX_KEY, pending, detail)
    return rows


def gaps(failed):
    """Each read the capture could not make, with what the replay therefore assumes."""
    rows = []
    for what, result in failed:
        if result == "absent":
            assumed = "not on the machine; the replay has none either"
        else:
            assumed = "not readable; the replay runs as if it were absent: " + \
                next(text for pattern, text in ASSUMPTIONS if re.match(pattern, what, re.I))
        rows.append({"read": what, "result": result, "assumed": assumed})
    return rows


def text_report(report):
    c, w = report["capture"], report["what_if"]
    out = [report["verdict"], "",
           f"Capture {c['path']}: taken {c['local_time']} local ({c['utc_time']} UTC, bias "
           f"{c['bias']}), redaction {c['redaction']}, capture program {c['version']}",
           f"What-if: answer {w['answer']}, clock {w['at'] or 'as captured'}, facts set: "
           f"{', '.join(w['set']) or 'none'}"]
    for mode in report["modes"]:
        e = mode["effects"]
        out += ["", f"== {mode['mode']}: {mode['verdict']}",
                f"exit code {mode['exit_code']} ({mode['exit_meaning']})", "",
                "Gates, in the flow's order:"]
        out += [f"  {g['gate']}: {g['value']}" for g in mode["gates"]]
    # What the program does not read comes with its gates, before the effects and the log.
    f = report["reboot_flag"]
    out += ["", f"Since when each signal of a pending restart is set, by the capture's clock "
                f"({report['capture']['local_time'] or '?'} local):"]
    out.append(f"  {f['signal']} (the program reads it): {f['state']}; {f['source']}"
               + (f", key written {f['set_since']} UTC" if f["set_since"] else "")
               + (f", {f['age']}" if f["age"] else ""))
    if f["first_seen"]:
        out.append(f"  first seen by the program {f['first_seen']} (\"WPMRbtRequiredON\" in "
                   f"{f['state_file']}), {f['first_seen_age']}")
    elif f["state"] == "present":
        out.append("  first seen by the program: not recorded in "
                   + (f["state_file"] or "the state file"))
    if f["disagreement"]:
        out.append(f"  {f['disagreement']}")
    out += ["", "Signals of a pending restart that the program does not read:"]
    out += [f"  {s['signal']}: {s['state']}" + (f" ({s['detail']})" if s["detail"] else "")
            + f"; {s['source']}" + (f", key written {s['set_since']} UTC" if s["set_since"] else "")
            + (f", {s['age']}" if s["age"] else "")
            for s in report["signals_not_read"]]
    for mode in report["modes"]:
        e = mode["effects"]
        out += ["", f"== {mode['mode']}: effects (journal):"]
        out += [f"  program started: {p['program']} by {p['how']}, session {p['session']}, user "
                f"{p['user']}, command line \"{p['command_line']}\", {p['result']}"
                for p in e["programs_started"]]
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
    out += ["", "What the capture could not read, and what the replay therefore assumes:"]
    out += [f"  {g['read']}: {g['result']}; {g['assumed']}"
            for g in report["capture_gaps"]] or ["  nothing"]
    return "\n".join(out) + "\n"


def plain_texts(value):
    """The report with every text as valid UTF-8 without control characters: a name's bytes that
    are no UTF-8 (a file name of the capture) as \\xNN, a line break or other control character
    inside a value (a [Failed] line, a log line) as \\xNN too; the tabs of log lines stay."""
    if isinstance(value, dict):
        return {k: plain_texts(v) for k, v in value.items()}
    if isinstance(value, list):
        return [plain_texts(v) for v in value]
    if isinstance(value, str):
        text = value.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
        return re.sub(r"[\x00-\x08\x0a-\x1f\x7f-\x9f\u2028\u2029]",
                      lambda m: f"\\x{ord(m.group(0)):02x}", text)
    return value


def normalised(report, port):
    """The report without what differs from one replay to the next: the loopback server's port
    (written PORT) and the process ids of the programs the runs started (numbered in the order
    they were started, 1, 2, ...), so that two replays of one capture with the same options give
    the same report byte for byte."""
    started = []
    for mode in report["modes"]:
        for program in mode["effects"]["programs_started"]:
            m = re.match(r"pid=(\d+)$", program["result"])
            if m and m.group(1) not in started:
                started.append(m.group(1))
    text = json.dumps(report, ensure_ascii=False)
    if port:
        text = text.replace(f"127.0.0.1:{port}", "127.0.0.1:PORT")
    numbers = {pid: str(index + 1) for index, pid in enumerate(started)}
    if numbers:
        text = re.sub(r"\bpid=(\d+)\b", lambda m: "pid=" + numbers.get(m.group(1), m.group(1)), text)
    return json.loads(text)


def write_checked(out, report, schema_path):
    """report.json and report.txt written to temporary names and moved into place only once the
    JSON validates against its schema; False (and nothing left behind) otherwise."""
    paths = {name: os.path.join(out, name) for name in ("report.json", "report.txt")}
    texts = {"report.json": json.dumps(report, indent=2, ensure_ascii=False) + "\n",
             "report.txt": text_report(report)}
    try:
        if schema_path:
            import jsonschema  # python3-jsonschema, installed by scripts/install-deps.sh
            with open(schema_path, encoding="utf-8") as f:
                schema = json.load(f)
            jsonschema.Draft202012Validator(schema).validate(json.loads(texts["report.json"]))
        for name, path in paths.items():
            with open(path + ".tmp", "w", encoding="utf-8") as f:
                f.write(texts[name])
        for name, path in paths.items():
            os.replace(path + ".tmp", path)
        return True
    except Exception as error:  # noqa: BLE001 - any failure leaves no report at all
        print(f"replay: report.json is not written: {str(error).splitlines()[0]}", file=sys.stderr)
        for path in paths.values():
            for leftover in (path + ".tmp",):
                if os.path.exists(leftover):
                    os.remove(leftover)
        return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--capture", required=True)
    parser.add_argument("--run", action="append", default=[])
    parser.add_argument("--answer", default="none")
    parser.add_argument("--at")
    parser.add_argument("--set", action="append", default=[])
    parser.add_argument("--schema")
    parser.add_argument("--port")
    args = parser.parse_args()

    notes = rf.ini_sections(rf.read_text(os.path.join(args.capture, "capture.ini")))
    failed = notes.get("FAILED", [])
    requests = server_requests(os.path.join(args.out, "server.log"))
    modes, verdicts = [], []
    for run in args.run:
        word, code, first, end = run.split(":")
        mode = Mode(args.out, args.capture, word, int(code), requests[int(first):int(end)],
                    args.answer)
        verdict = mode.run()
        verdicts.append(f"{word}: {verdict}")
        modes.append(mode.as_json(verdict))
    clock = Clock(args.capture, notes)
    # The reboot state file as the first run named it.
    state_file = next((g["value"].rsplit("reboot state file ", 1)[-1] for m in modes
                       for g in m["gates"] if g["gate"] == "start-up"
                       and "reboot state file " in g["value"]), "")
    flag = reboot_flag(args.capture, failed, clock, notes, state_file)
    capture = {"path": args.capture}
    for field, key in (("version", "Version"), ("local_time", "LocalTime"),
                       ("utc_time", "UtcTime"), ("bias", "Bias"),
                       ("windows_build", "WindowsBuild"), ("redaction", "Redaction")):
        capture[field] = rf.ini_get(notes, "Capture", key)
    report = {
        "schema_version": SCHEMA_VERSION,
        "verdict": "; ".join(verdicts),
        "capture": capture,
        "what_if": {"answer": args.answer, "at": args.at, "set": args.set},
        "modes": modes,
        "reboot_flag": flag,
        "signals_not_read": signals(args.capture, failed, clock, flag["state"]),
        "capture_gaps": gaps(failed),
    }
    report = plain_texts(normalised(report, args.port))
    if not write_checked(args.out, report, args.schema):
        sys.exit(4)


if __name__ == "__main__":
    main()
