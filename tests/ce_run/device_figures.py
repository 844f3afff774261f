#!/usr/bin/env python3
"""The device executables' figures, measured by ce-run --stats, and their goals.

    device_figures.py --runner build/ce-run EXE...

For each executable: the file's size; the peak stack depth of a typical run
(one old-pack file, the program in \\Temp\\ServicePack, a cabinet to delete);
and the instructions executed per old-pack entry in the program's own code:
ce-run counts every instruction executed at an address inside the image
(the platform's calls run on the host and are not counted), and the figure
is the difference between a run with 100 old-pack files and one with none,
divided by 100.  Prints a Markdown table; exits 1 when an image reaches
4 KiB or a peak stack (of any of the runs) 2 KiB.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

ENTRIES = 100
IMAGE_GOAL = 4096
STACK_GOAL = 2048
REGISTRY = (
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13]\n"
    '"CabFile"="\\\\Temp\\\\ServicePack.cab"\n'
)


def stats_of_run(runner, program, old_files):
    """ce-run --stats on a fresh tree with `old_files` old-pack files;
    returns (program instructions, peak stack bytes)."""
    root = tempfile.mkdtemp(prefix="device-figures-")
    try:
        old = os.path.join(root, "Temp", "ServicePackOld")
        os.makedirs(old)
        os.makedirs(os.path.join(root, "Temp", "ServicePack"))
        for number in range(old_files):
            with open(os.path.join(old, f"file{number:03}.dll"), "wb") as handle:
                handle.write(b"old")
        with open(os.path.join(root, "Temp", "ServicePack.cab"), "wb") as handle:
            handle.write(b"cabinet")
        with open(os.path.join(root, "registry.reg"), "w", encoding="utf-8") as handle:
            handle.write(REGISTRY)
        placed = os.path.join(root, "Temp", "ServicePack", "Setup.exe")
        shutil.copy2(program, placed)
        completed = subprocess.run(
            [runner, "--stats", placed], cwd=root, stdin=subprocess.DEVNULL,
            capture_output=True, timeout=120, check=False,
        )
        report = completed.stderr.decode("utf-8", "replace")
        if completed.returncode != 0:
            raise RuntimeError(f"{program}: status {completed.returncode}: {report}")
        if os.listdir(old) != ["PatchUnInstall.exe"]:
            raise RuntimeError(f"{program}: the old-pack directory was not emptied")
        instructions = int(re.search(r"\(program (\d+)\)", report).group(1))
        stack = int(re.search(r"peak stack (\d+) bytes", report).group(1))
        return instructions, stack
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("programs", nargs="+")
    arguments = parser.parse_args()
    runner = os.path.abspath(arguments.runner)
    print("| Executable | Image | Peak stack (typical run) | Instructions per old-pack entry |"
          " Instructions, typical run |")
    print("|---|---:|---:|---:|---:|")
    missed = []
    for program in arguments.programs:
        size = os.path.getsize(program)
        typical, stack = stats_of_run(runner, program, 1)
        empty, _ = stats_of_run(runner, program, 0)
        full, full_stack = stats_of_run(runner, program, ENTRIES)
        per_entry = (full - empty) / ENTRIES
        print(f"| `{program}` | {size:,} bytes | {stack:,} bytes | {per_entry:,.1f} | {typical:,} |")
        if size >= IMAGE_GOAL:
            missed.append(f"{program}: image {size} bytes, goal under {IMAGE_GOAL}")
        if max(stack, full_stack) >= STACK_GOAL:
            missed.append(f"{program}: peak stack {max(stack, full_stack)} bytes, "
                          f"goal under {STACK_GOAL}")
    for line in missed:
        print("GOAL MISSED: " + line)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
