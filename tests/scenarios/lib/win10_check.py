#!/usr/bin/env python3
"""Checks a Windows 10 scenario run: its activity log and the posts the REST service received.

    win10_check.py CASE_DIR NORMALISED_LOG STATE_DIR HOST

CASE_DIR/expected.win10.log is the normalised log from its start through the Windows 10 step,
with {PORT} for the service's port: the run's log must begin with it, and no line of the step's
procedures may follow (what the prompt flow does after the step is not this check's business).
CASE_DIR/expected.requests holds one line per post, in order: the path, a tab, the body, with
{TIME} for the run's start time (M/D/YYYY H:M:S). Under Wine, expected.wine.log and
expected.wine.requests take their place when the case has them. Every body must parse as JSON.

With RS_WIN10_UPDATE=1 the expected files of the host are written from the run instead.
"""
import difflib
import json
import os
import re
import sys

TIME = re.compile(r"\b\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2}\b")
# The procedures of the Windows 10 step, as the log's module field names them.
STEP_MODULES = {
    "subSuppressRebootNotification", "SetRegDwordValue64", "subRenameTaskFolderForRebootJob",
    "fncGetSysDir", "subDisableRebootNotification", "GetTask", "fncWin10AudWebPost",
    "fncWin10ErrorWebPost",
}


def module_of(line):
    fields = line.split("\t")
    return fields[1] if len(fields) > 1 else ""


def step_end(lines):
    """The number of lines from the start through the Windows 10 step (or start-up)."""
    end = 0
    for number, line in enumerate(lines, 1):
        if module_of(line) in STEP_MODULES or module_of(line) == "InitializeEXE" or (
                module_of(line) == "Main" and "Win10Optin" in line):
            end = number
    return end


def expected_file(case_dir, host, name):
    if host == "wine":
        wine = {"expected.win10.log": "expected.wine.log",
                "expected.requests": "expected.wine.requests"}[name]
        if os.path.exists(os.path.join(case_dir, wine)):
            return os.path.join(case_dir, wine)
    return os.path.join(case_dir, name)


def read_lines(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return f.read().splitlines()


def main():
    case_dir, log_path, state, host = sys.argv[1:5]
    port = ""
    if os.path.exists(os.path.join(state, "port")):
        port = open(os.path.join(state, "port")).read().strip()
    ok = True

    update = os.environ.get("RS_WIN10_UPDATE") == "1"
    log_file = expected_file(case_dir, host, "expected.win10.log")
    actual_log = read_lines(log_path) if os.path.exists(log_path) else []
    if update:
        with open(log_file, "w", encoding="utf-8", errors="surrogateescape") as out:
            for line in actual_log[:step_end(actual_log)]:
                out.write((line.replace(":" + port + "/", ":{PORT}/") if port else line) + "\n")
    expected_log = [line.replace("{PORT}", port) for line in read_lines(log_file)]
    if actual_log[:len(expected_log)] != expected_log:
        ok = False
        print("activity log differs:")
        sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(
            expected_log, actual_log[:len(expected_log)], "expected", "actual", lineterm=""))
    later = [line for line in actual_log[len(expected_log):] if module_of(line) in STEP_MODULES]
    if later:
        ok = False
        print("lines of the Windows 10 step after the expected ones:")
        sys.stdout.writelines(line + "\n" for line in later)

    requests = []
    requests_file = os.path.join(state, "requests.jsonl")
    if os.path.exists(requests_file):
        requests = [json.loads(line) for line in read_lines(requests_file)]
    actual = []
    for number, request in enumerate(requests, 1):
        body = request["body"]
        if request["method"] != "POST":
            ok = False
            print(f"request {number}: method {request['method']}")
        content_type = request["headers"].get("content-type")
        if content_type != "application/json":
            ok = False
            print(f"request {number}: Content-Type {content_type!r}")
        try:
            json.loads(body)
        except ValueError as e:
            ok = False
            print(f"request {number}: the body is not JSON ({e}): {body!r}")
        actual.append(request["path"] + "\t" + TIME.sub("{TIME}", body))
    requests_path = expected_file(case_dir, host, "expected.requests")
    if update:
        with open(requests_path, "w", encoding="utf-8", errors="surrogateescape") as out:
            out.writelines(line + "\n" for line in actual)
    expected = read_lines(requests_path) if os.path.exists(requests_path) else []
    if expected != actual:
        ok = False
        print("posts differ:")
        sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(
            expected, actual, "expected", "actual", lineterm=""))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
