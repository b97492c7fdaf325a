#!/usr/bin/env python3
"""Checks that the source tree's libraries depend downward only.

Every file under src/ belongs to one layer (by its folder, and for the
engine's top folder by its name); a file may include headers of its own
layer and of the layers below it, never of a layer above. Prints each
include that points up and exits 1 when there is one.
"""
import pathlib
import re
import sys

# Lowest first. A layer may include itself and anything listed before it.
LAYERS = [
    "base",            # src/*.h: the version, literal checks
    "text",            # code page 932 and the other encodings
    "os",              # paths, reads, file replacement and identity
    "engine/record",   # the settings record, a pass's byte source and sink
    "engine/classes",  # classifier, scan tables, exempt strings, the score
    "engine/format",   # how the runs are written
    "engine/print",    # the printers the scan reports runs to
    "engine/scan",     # the block scan over printers, and its kernels
    "engine/drive",    # the dispatcher and the threaded driver
    "engine/front",    # the file front ends
    "files",           # file search
    "settings",        # setting.dat
    "ui",              # the dialogs' logic and their Win32 views
    "app",             # the two programs
]
ENGINE_RECORD = {"extraction_settings", "pass_io"}
ENGINE_FORMAT = {"output_format"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def layer_of(path: pathlib.PurePosixPath) -> str:
    parts = path.parts
    if len(parts) == 1:
        return "base"
    if parts[0] == "engine":
        if len(parts) == 2:
            if path.stem in ENGINE_RECORD:
                return "engine/record"
            return "engine/format" if path.stem in ENGINE_FORMAT else "engine/front"
        return "engine/" + parts[1]
    return parts[0]


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    rank = {name: i for i, name in enumerate(LAYERS)}
    faults = []
    for file in sorted(src.rglob("*")):
        if file.suffix not in {".h", ".cpp", ".rc"}:
            continue
        own = layer_of(pathlib.PurePosixPath(file.relative_to(src).as_posix()))
        if own not in rank:
            faults.append(f"{file}: in no layer ({own})")
            continue
        for included in INCLUDE.findall(file.read_text(encoding="utf-8", errors="replace")):
            target = (src / included)
            if not target.exists():
                continue  # a file beside it, or a generated one
            other = layer_of(pathlib.PurePosixPath(included))
            if other not in rank:
                faults.append(f"{file}: includes {included}, in no layer")
            elif rank[other] > rank[own]:
                faults.append(f"{file}: {own} includes {included} ({other}, above it)")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
