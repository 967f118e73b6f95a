#!/usr/bin/python3
"""Checks the include graph of src/ against the layers declared in src/layers.txt.

usage: scripts/check-layers.py

Every #include "..." that names a file below src/ is an edge from the including file's layer to
the included file's; an edge to a higher layer, a folder that is not declared, or a folder declared
twice fails with one line each: "src/FILE:LINE: includes HEADER of layer N above its own (M)".
Includes of files that are not below src/ (generated headers, the system's) are not edges.
"""
import os
import re
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SRC = os.path.join(TOP, "src")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_layers(path):
    layers = {}
    problems = []
    with open(path, encoding="utf-8") as declared:
        number = 0
        for line in declared:
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            number += 1
            for name in line:
                if name in layers:
                    problems.append(f"src/layers.txt: {name} is declared twice")
                layers[name] = number
    return layers, problems


def layer_of(relative, layers):
    """The layer of a file (by its own entry, else its folder's) and the name it was found by."""
    if relative in layers:
        return layers[relative], relative
    folder = os.path.dirname(relative) or "."
    return layers.get(folder), folder


def main():
    layers, problems = read_layers(os.path.join(SRC, "layers.txt"))
    files = edges = 0
    for root, _, names in os.walk(SRC):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp", ".c")):
                continue
            path = os.path.join(root, name)
            relative = os.path.relpath(path, SRC)
            own, folder = layer_of(relative, layers)
            if own is None:
                problems.append(f"src/{relative}: its folder {folder} is not in src/layers.txt")
                continue
            files += 1
            with open(path, encoding="utf-8", errors="replace") as source:
                for number, text in enumerate(source, 1):
                    match = INCLUDE.match(text)
                    if not match or not os.path.isfile(os.path.join(SRC, match.group(1))):
                        continue
                    edges += 1
                    target, _ = layer_of(match.group(1), layers)
                    if target is not None and target > own:
                        problems.append(f"src/{relative}:{number}: includes {match.group(1)} "
                                        f"of layer {target} above its own ({own})")
    for problem in problems:
        print(problem)
    print(f"include layers: {files} files, {edges} includes, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
