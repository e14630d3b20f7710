#!/usr/bin/env python3
"""Fails when an include crosses a layer of src/ upwards, or a library's or
platform's header is included outside its back end or platform files.

A folder may include headers of its own folder and of folders in lower layers
only; folders in one layer never include each other. The layers, bottom up, are
LAYERS below (ARCHITECTURE.md draws them). libxml2's and libxslt's headers belong
to engine/libxml; Win32 and COM headers to engine/msxml and files named *_win.
Usage: check_layers.py [SRC_DIR]
"""
import os
import re
import sys
import tempfile

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
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.MULTILINE)
WINDOWS_HEADERS = {"windows.h", "comdef.h", "msxml2.h", "objbase.h", "ole2.h", "oleauto.h", "unknwn.h",
                   "shellapi.h", "shlwapi.h", "commdlg.h", "commctrl.h", "process.h"}


def platform_header_misplaced(header, folder, name):
    """Why `header` may not stand in folder/name, or None."""
    if header.split("/")[0] in ("libxml", "libxslt", "libexslt") and folder != "engine/libxml":
        return "a libxml2/libxslt header outside engine/libxml"
    stem = os.path.splitext(name)[0]
    if header.lower() in WINDOWS_HEADERS and folder != "engine/msxml" and not stem.endswith("_win"):
        return "a Win32/COM header outside engine/msxml and *_win files"
    return None


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
            for header in SYSTEM_INCLUDE.findall(text):
                why = platform_header_misplaced(header, folder, name)
                if why:
                    found.append(f"{where}: includes <{header}>, {why}")
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


def misses_a_crossing():
    """The check itself: a tree with one crossing of each kind must give each."""
    files = {"job/a.cpp": '#include <libxml/tree.h>\n', "base/b.hpp": '#include <windows.h>\n',
             "comments/c.cpp": '#include "job/a.hpp"\n', "base/d_win.cpp": '#include <windows.h>\n'}
    with tempfile.TemporaryDirectory() as tree:
        for path, text in files.items():
            os.makedirs(os.path.join(tree, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(tree, path), "w", encoding="utf-8") as f:
                f.write(text)
        return len(violations(tree)) != 3


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src")
    found = violations(src) + (["the check misses a crossing"] if misses_a_crossing() else [])
    for line in found:
        print(line)
    print(f"{0 if found else 1} passed, {1 if found else 0} failed: layers")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
