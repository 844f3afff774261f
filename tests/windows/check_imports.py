#!/usr/bin/env python3
"""Checks what the Windows build of the program takes from the platform.

    check_imports.py BUILD_DIR      (e.g. build-windows)

1. The executable's import table (objdump -p): a Windows GUI program whose
   only DLLs are KERNEL32.dll, ADVAPI32.dll (RegOpenKeyExW, RegQueryValueExW
   and RegCloseKey only), USER32.dll (wsprintfW only) and msvcrt.dll (the C
   runtime's start-up, the wide one), importing every platform function the
   program uses.
2. The program's own objects (nm -u): what they leave undefined is exactly
   those platform functions, plus the memory routines the compiler itself
   emits; so the KERNEL32 and msvcrt imports beyond that list belong to the
   C runtime's start-up, not to the program.

Prints one line per finding and "imports: OK" or "imports: N problems";
exits 1 on any problem, 2 when the tools or files are missing.
"""

import glob
import os
import re
import subprocess
import sys

TOOL_PREFIX = "x86_64-w64-mingw32-"

# Every platform function the program calls, by the DLL that holds it.
PLATFORM_FUNCTIONS = {
    "KERNEL32.dll": {
        "FindFirstFileW",
        "FindNextFileW",
        "FindClose",
        "DeleteFileW",
        "CreateDirectoryW",
        "RemoveDirectoryW",
        "MoveFileW",
        "GetFileAttributesW",
        "GetModuleFileNameW",
    },
    "ADVAPI32.dll": {"RegOpenKeyExW", "RegQueryValueExW", "RegCloseKey"},
    "USER32.dll": {"wsprintfW"},
}
# DLLs that may hold more than the program's calls (the C runtime's start-up).
STARTUP_DLLS = {"KERNEL32.dll", "msvcrt.dll"}
# The C runtime's start-up for the wide entry point (wWinMain) takes its
# arguments from here; the narrow one would use __getmainargs.
WIDE_STARTUP = ("msvcrt.dll", "__wgetmainargs")
# What the compiler may emit on its own for loops that fill or copy memory.
COMPILER_EMITTED = {"memset", "memcpy", "memmove"}


def parse_imports(objdump_text):
    """Maps each imported DLL's name to the set of function names imported
    from it, read from `objdump -p` output."""
    imports = {}
    current = None
    for line in objdump_text.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            current = imports.setdefault(match.group(1), set())
            continue
        if current is None:
            continue
        entry = re.match(r"\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*$", line)
        if entry:
            current.add(entry.group(1))
        elif not line.strip() or line.lstrip().startswith("vma:"):
            continue
        elif not re.match(r"\s+[0-9a-fA-F]+\s", line):
            current = None
    return imports


def parse_subsystem(objdump_text):
    """The subsystem named in `objdump -p` output, e.g. "Windows GUI"."""
    match = re.search(r"^Subsystem\s+\S+\s+\((.+)\)", objdump_text, re.MULTILINE)
    return match.group(1) if match else ""


def import_problems(imports, subsystem):
    """Lines naming what is wrong with an executable's imports and
    subsystem; empty when all is as it should be."""
    problems = []
    if subsystem != "Windows GUI":
        problems.append(f"subsystem is {subsystem or 'unknown'!r}, not 'Windows GUI'")
    if WIDE_STARTUP[1] not in imports.get(WIDE_STARTUP[0], set()):
        problems.append("the C runtime's start-up is not the wide one (no __wgetmainargs)")
    allowed = set(PLATFORM_FUNCTIONS) | STARTUP_DLLS
    by_lower = {name.lower(): name for name in imports}
    for dll in sorted(imports):
        if dll not in allowed:
            problems.append(f"imports from {dll}, which the program must not use")
    for dll, needed in sorted(PLATFORM_FUNCTIONS.items()):
        found = imports.get(by_lower.get(dll.lower(), dll), set())
        for function in sorted(needed - found):
            problems.append(f"{dll} does not supply {function}")
        if dll not in STARTUP_DLLS:
            for function in sorted(found - needed):
                problems.append(f"{dll} supplies {function}, which the program must not use")
    return problems


def object_problems(undefined, defined):
    """Lines naming symbols that the program's own objects take from outside
    the program other than the platform functions; `undefined` and `defined`
    are sets of symbol names."""
    platform = {f"__imp_{name}" for names in PLATFORM_FUNCTIONS.values() for name in names}
    outside = undefined - defined
    unexpected = sorted(outside - platform - COMPILER_EMITTED)
    problems = [f"the program's objects use {name}" for name in unexpected]
    never_called = sorted(platform - outside)
    problems += [f"the program's objects never call {name[6:]}" for name in never_called]
    return problems


def run_tool(tool, arguments):
    """The standard output of a binutils tool for the Windows target."""
    return subprocess.run(
        [TOOL_PREFIX + tool] + arguments, capture_output=True, text=True, check=True
    ).stdout


def object_symbols(objects):
    """(undefined, defined) symbol name sets of `objects`, from nm."""
    undefined, defined = set(), set()
    for line in run_tool("nm", ["--no-sort"] + objects).splitlines():
        fields = line.split()
        if len(fields) == 2 and fields[0] == "U":
            undefined.add(fields[1])
        elif len(fields) == 3 and fields[1] in "TtDdBbRr":
            defined.add(fields[2])
    return undefined, defined


def main():
    """Checks the build directory named on the command line."""
    if len(sys.argv) != 2:
        print(__doc__.strip().split("\n\n")[1])
        return 2
    build = sys.argv[1]
    executable = os.path.join(build, "servicepack-cleanup.exe")
    objects = sorted(glob.glob(os.path.join(build, "libcleanup.a")))
    objects += sorted(
        glob.glob(os.path.join(build, "CMakeFiles", "servicepack-cleanup.dir", "**", "*.obj"),
                  recursive=True)
    )
    if not os.path.isfile(executable) or len(objects) < 2:
        print(f"imports: {executable} or the program's objects are missing")
        return 2
    try:
        dump = run_tool("objdump", ["-p", executable])
        undefined, defined = object_symbols(objects)
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"imports: cannot run the mingw-w64 binutils: {error}")
        return 2

    imports = parse_imports(dump)
    for dll in sorted(imports):
        print(f"{dll}: {' '.join(sorted(imports[dll]))}")
    problems = import_problems(imports, parse_subsystem(dump))
    problems += object_problems(undefined, defined)
    for problem in problems:
        print(f"PROBLEM {problem}")
    print("imports: OK" if not problems else f"imports: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
