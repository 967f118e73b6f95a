#!/usr/bin/env python3
"""hives.py HKLM_REG SOFTWARE SYSTEM: the SOFTWARE and SYSTEM hives of a machine folder's
registry, made with hivex as a Windows volume holds them: the keys of HKLM\\SOFTWARE in the first,
those of HKLM\\SYSTEM in the second with CurrentControlSet stored as ControlSet001, the control
set that Select\\Current names."""
import re
import struct
import subprocess
import sys
import tempfile

CONTROL_SET = "ControlSet001"


def empty_hive(path):
    """A hive holding only its root key (with the security cell that hivex copies to every key
    it adds): hivex opens and changes hives but makes none."""
    sk_offset = 0x20 + 0x58

    def cell(data):
        size = (len(data) + 4 + 7) & ~7
        return struct.pack("<i", -size) + data.ljust(size - 4, b"\0")

    root = b"nk" + struct.pack("<HQIIIIIIIIII", 0x2C, 0, 0, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0,
                               0xFFFFFFFF, sk_offset, 0xFFFFFFFF)
    root += struct.pack("<HHIIIIHH", 0, 0, 0, 0, 0, 0, 4, 0) + b"ROOT"
    descriptor = struct.pack("<BBHIIII", 1, 0, 0x8004, 0, 0, 0, 0)
    security = b"sk" + struct.pack("<HIIII", 0, sk_offset, sk_offset, 1, len(descriptor))
    cells = cell(root) + cell(security + descriptor)
    free = 0x1000 - 0x20 - len(cells)
    hbin = b"hbin" + struct.pack("<III", 0, 0x1000, 0).ljust(0x1C, b"\0") + cells
    hbin += struct.pack("<i", free).ljust(free, b"\0")
    header = b"regf" + struct.pack("<IIQIIIIIII", 1, 1, 0, 1, 3, 0, 1, 0x20, 0x1000, 1)
    header = header.ljust(0x1FC, b"\0")
    checksum = 0
    for (word,) in struct.iter_unpack("<I", header):
        checksum ^= word
    with open(path, "wb") as out:
        out.write((header + struct.pack("<I", checksum)).ljust(0x1000, b"\0") + hbin)


def text_as_hex(line):
    """A "name"="text" line with its text as hex(1): UTF-16LE, which hivexregedit's merge would
    otherwise take byte by byte."""
    match = re.fullmatch(r'((?:"(?:[^"\\]|\\.)*"|@))="((?:[^"\\]|\\.)*)"', line)
    if not match:
        return line
    text = re.sub(r"\\(.)", r"\1", match.group(2))
    data = (text + "\0").encode("utf-16-le")
    return match.group(1) + "=hex(1):" + ",".join(f"{byte:02x}" for byte in data)


def main(reg_file, software, system):
    data = open(reg_file, "rb").read()
    text = data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe" else data.decode("utf-8-sig")
    blocks = {"SOFTWARE": [], "SYSTEM": [f"[HKEY_LOCAL_MACHINE\\SYSTEM\\{CONTROL_SET}]", "",
                                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]",
                                         '"Current"=dword:00000001']}
    made = {CONTROL_SET.lower()}
    target = None
    for line in text.splitlines()[1:]:
        key = re.fullmatch(r"\[HKEY_LOCAL_MACHINE\\(SOFTWARE|SYSTEM)((?:\\[^\]]*)?)\]", line)
        if key:
            target = blocks[key.group(1).upper()]
            path = re.sub(r"^\\CurrentControlSet(?=\\|$)", "\\\\" + CONTROL_SET, key.group(2),
                          flags=re.I)
            parts = path.split("\\")[1:]
            # hivexregedit adds a key only below one that is there.
            for depth in range(1, len(parts) + 1):
                name = "\\".join(parts[:depth])
                if name.lower() not in made or depth == len(parts):
                    made.add(name.lower())
                    target += ["", f"[HKEY_LOCAL_MACHINE\\{key.group(1).upper()}\\{name}]"]
        elif target is not None and line.strip():
            target.append(text_as_hex(line))
    for name, hive in (("SOFTWARE", software), ("SYSTEM", system)):
        empty_hive(hive)
        with tempfile.NamedTemporaryFile("w", suffix=".reg") as changes:
            changes.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(blocks[name]) + "\n")
            changes.flush()
            subprocess.run(["hivexregedit", "--merge", "--prefix", "HKEY_LOCAL_MACHINE\\" + name,
                            hive, changes.name], check=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
