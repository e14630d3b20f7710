#!/usr/bin/env python3
"""Fails when an include crosses a layer of src/ upwards.

A folder may include headers of its own folder and of folders in lower layers
only; folders in one layer never include each other. The layers, bottom up, are
LAYERS below (ARCHITECTURE.md draws them). Usage: check_layers.py [SRC_DIR]
"""
import os
import re
import sys

# Bottom up. A folder not listed is an error: every folder has its place.
LAYERS = [
    ["base"],                       # text, paths, the log line protocol, arguments, settings
    ["engine"],                     # the XML component's facade, error kinds, documents, file I/O
    ["engine/libxml", "engine/msxml"],  # its two back ends
    ["comments"],                   # comment vocabulary and operations, the comment index
    ["job"],                        # intake, naming, the merge job driver, the worker
    ["cli", "ui"],                  # the Linux entry; the Windows windows, dialog, drop
    ["app"],                        # the Windows entry
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def rank_of(folder):
    for rank, folders in enumerate(LAYERS):
        if folder in folders:
            return rank
    return None


def violations(src):
    found = []
    for dirpath, _, names in os.walk(src):
        folder = os.path.relpath(dirpath, src).replace(os.sep, "/")
        for name in sorted(names):
            if not name.endswith((".cpp", ".hpp")):
                continue
            where = f"{folder}/{name}"
            own = rank_of(folder)
            if own is None:
                found.append(f"{where}: folder {folder} has no layer")
                continue
            with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                text = f.read()
            for header in INCLUDE.findall(text):
                target = os.path.dirname(header)
                if target == folder:
                    continue
                rank = rank_of(target)
                if rank is None:
                    found.append(f"{where}: includes {header} from a folder with no layer")
                elif rank >= own:
                    kind = "a peer" if rank == own else "a higher layer"
                    found.append(f"{where}: includes {header} from {kind} ({target})")
    return found


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src")
    found = violations(src)
    for line in found:
        print(line)
    print(f"{0 if found else 1} passed, {1 if found else 0} failed: layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
