"""What the replay's preparation and its report both read of a machine folder: its INI files
(machine.ini, capture.ini, the agent's INI files), Windows paths as paths of the folder, and the
registry export. Standard library only."""

import os
import re


def read_text(path):
    """A file's text, byte for byte (Latin-1 keeps every byte); None when it cannot be read."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def write_text(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("latin-1"))


def ini_sections(text):
    """{section (upper-cased): [(key, value), ...]} of an INI text, in file order; names keep
    their case in the pairs, and a section listed twice adds to the first."""
    sections = {}
    current = None
    for line in (text or "").splitlines():
        line = line.strip()
        if not line or line[0] in ";#":
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].strip().upper(), [])
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.append((key.strip(), value.strip()))
    return sections


def ini_get(sections, section, key, default=""):
    for name, value in sections.get(section.upper(), []):
        if name.upper() == key.upper():
            return value
    return default


def ini_set(text, section, key, value):
    """The INI text with section/key set to value: the key's line replaced where it stands, else
    added at the end of its section, else the section added; the other lines stay as they are."""
    lines = text.splitlines(keepends=True) if text else []
    newline = "\r\n" if (not lines or lines[0].endswith("\r\n")) else "\n"
    if lines and not lines[-1].endswith("\n"):
        lines[-1] += newline
    start = end = None
    for i, line in enumerate(lines):
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            if start is not None and end is None:
                end = i
            if stripped[1:-1].strip().upper() == section.upper():
                start, end = i, None
    entry = f"{key}={value}{newline}"
    if start is None:
        return "".join(lines) + f"[{section}]{newline}" + entry
    end = len(lines) if end is None else end
    for i in range(start + 1, end):
        name = lines[i].split("=", 1)[0].strip()
        if "=" in lines[i] and name.upper() == key.upper():
            lines[i] = entry
            return "".join(lines)
    while end > start + 1 and not lines[end - 1].strip():
        end -= 1
    lines.insert(end, entry)
    return "".join(lines)


def host_path(machine, windows_path):
    """The path in the machine folder of a Windows path (C:\\A\\b.ini), each existing name
    matched without regard to case as the emulated host matches it; None for a path that is no
    plain path of a drive (a capture is input from elsewhere: nothing may lead out of it)."""
    match = re.match(r"^([A-Za-z]):(.*)$", windows_path)
    if not match:
        return None
    parts = [p for p in match.group(2).split("\\") if p]
    if any(p in (".", "..") or "/" in p or "\0" in p for p in parts):
        return None
    path = os.path.join(machine, "drives", match.group(1).lower())
    for part in parts:
        try:
            names = os.listdir(path)
        except OSError:
            names = []
        same = [n for n in names if n.upper() == part.upper()]
        path = os.path.join(path, same[0] if same else part)
    return path


def reg_text(path):
    """A registry export's text: UTF-16LE with its byte-order mark, or UTF-8."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", "replace")
    return data.decode("utf-8", "replace").lstrip("\ufeff")


def reg_keys(path):
    """{key path below HKLM (upper-cased): {value name (upper-cased): raw data text}} of an
    export; continuation lines are joined."""
    keys = {}
    current = None
    text = re.sub(r"\\\r?\n\s*", "", reg_text(path))
    for line in text.splitlines():
        line = line.strip()
        match = re.match(r"^\[HKEY_LOCAL_MACHINE\\?(.*)\]$", line, re.I)
        if match:
            current = keys.setdefault(match.group(1).upper(), {})
            continue
        match = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if match and current is not None:
            name = "" if match.group(1) == "@" else reg_string('"' + match.group(2) + '"')
            current[name.upper()] = match.group(3)
    return keys


def reg_string(data):
    """The text of a "..." value as the export writes it, else None."""
    if data.startswith('"') and data.endswith('"'):
        return data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return None
