#!/usr/bin/python3
"""Checks a Windows CE ARM executable of the program (python3-pefile).

    check_device_image.py --runner build/ce-run [--objdump llvm-objdump-16]
                          [--skip-missing] armv4|armv7 IMAGE.exe

Whether a CE version loads the image is ce-run's to say (its loader model,
tools/ce-run/ce_loader.cpp): the image must load, by `ce-run --check`, on
every version its build is for (armv4: CE 3.0, 4.2, 5.0, 6.0 and Compact 7;
armv7: Compact 2013), where that version puts it and, from Compact 7 on
(whose kernel picks the base), at another base, so that every base
relocation is applied.  Beyond that, what the build promises:

- machine ARM (0x1C0) for armv4, ARMNT (0x1C4) for armv7, and the
  subsystem and OS versions of the oldest version it is for (3.00, 8.00);
- base relocations of the kinds every version it is for applies: HIGHLOW
  only for armv4 (CE 3.0-6.0 apply no MOVW/MOVT pair), THUMB_MOV32 (and
  HIGHLOW) for armv7;
- imports: exactly the program's platform calls, each with its COREDLL
  ordinal as its hint (ce-run lists each import and the ordinal of the
  export it binds);
- no section both writable and executable;
- armv4: every instruction one ARMv4 has (llvm-objdump-16 --triple=armv4
  decodes it), so no BX, BLX, CLZ, LDRD or STRD, no Thumb, nothing later.

Prints one line per problem and "device image: OK" or "device image: N
problems"; exits 1 on any problem, 2 when the image cannot be read, and 77
(CTest's skip) when --skip-missing is given and the image was never built.
"""

import argparse
import os
import re
import subprocess
import sys

# What the program calls (src/cleanup).
PROGRAM_FUNCTIONS = {
    "FindFirstFileW",
    "FindNextFileW",
    "FindClose",
    "DeleteFileW",
    "CreateDirectoryW",
    "RemoveDirectoryW",
    "MoveFileW",
    "GetFileAttributesW",
    "GetModuleFileNameW",
    "RegOpenKeyExW",
    "RegQueryValueExW",
    "RegCloseKey",
    "wsprintfW",
}

SECTION_EXECUTE = 0x20000000
SECTION_WRITE = 0x80000000
ELSEWHERE = "0x20000000"  # another base, to apply every relocation

RELOCATION_HIGHLOW = 3
RELOCATION_THUMB_MOV32 = 7
# Where CE 3.0-6.0 load a relocatable program: no other base is taken.
FIXED_BASE_SYSTEMS = ("ce3", "ce42", "ce5", "ce6")

# "instructions": the llvm-objdump triple whose decoder must know every
# instruction of the code, or None.
BUILDS = {
    "armv4": {"machine": 0x1C0, "version": (3, 0),
              "systems": ("ce3", "ce42", "ce5", "ce6", "ce7"),
              "relocations": {RELOCATION_HIGHLOW}, "instructions": "armv4"},
    "armv7": {"machine": 0x1C4, "version": (8, 0), "systems": ("ce2013",),
              "relocations": {RELOCATION_HIGHLOW, RELOCATION_THUMB_MOV32},
              "instructions": None},
}


def problems_of(facts, build):
    """Lines naming what is wrong with the image described by `facts`
    (see read_facts) for `build` ("armv4" or "armv7")."""
    expected = BUILDS[build]
    found = list(dict.fromkeys(facts["refusals"]))
    if facts["refusals"]:
        return found + header_problems(facts, expected)
    found += header_problems(facts, expected)
    names = {name for name, _, _ in facts["imports"]}
    for name in sorted(PROGRAM_FUNCTIONS - names):
        found.append(f"COREDLL.dll!{name} is not imported")
    for name in sorted(names - PROGRAM_FUNCTIONS):
        found.append(f"COREDLL.dll!{name} is imported, but the program does not call it")
    for name, ordinal, hint in facts["imports"]:
        if hint != ordinal:
            found.append(f"COREDLL.dll!{name} has hint {hint}, not its ordinal {ordinal}")
    return found


def header_problems(facts, expected):
    """The machine, versions, sections and instructions against the build's."""
    found = []
    if facts["machine"] != expected["machine"]:
        found.append(f"machine {facts['machine']:#x}, not {expected['machine']:#x}")
    for field in ("subsystem_version", "os_version"):
        if facts[field] != expected["version"]:
            found.append("%s %d.%02d, not %d.%02d"
                         % ((field.replace("_", " "),) + facts[field] + expected["version"]))
    for name, flags in facts["sections"]:
        if flags & SECTION_WRITE and flags & SECTION_EXECUTE:
            found.append(f"section {name} is both writable and executable")
    for kind in sorted(set(facts["relocation_kinds"]) - expected["relocations"]):
        found.append(f"base relocations of type {kind}, which not every version it is for "
                     f"applies")
    found += [f"an instruction {expected['instructions']} lacks: {line}"
              for line in facts["foreign"]]
    return found


INSTRUCTION_LINE = re.compile(r"\s*([0-9a-f]+):\s+[0-9a-f]{8}\s+(\S+)")


def foreign_lines(objdump, path, triple, data_words):
    """The lines of the code's disassembly for `triple` whose instruction the
    CPU lacks: what its decoder does not know (`<unknown>`) and BX or BLX by
    name, but for `data_words` (the base relocations' places: addresses held
    in literal pools, which are not code)."""
    disassembly = subprocess.run([objdump, "-d", "--triple=" + triple, path],
                                 capture_output=True, text=True, check=True).stdout
    found = []
    for line in disassembly.splitlines():
        match = INSTRUCTION_LINE.match(line)
        if match and int(match.group(1), 16) not in data_words \
                and match.group(2).startswith(("<unknown>", "bx", "blx")):
            found.append(" ".join(line.split()))
    return found


IMPORT_LINE = re.compile(r"COREDLL\.dll!(\w+) ordinal (\d+) (?:hint (\d+)|by ordinal)$")


def loads(runner, path, system, base):
    """ce-run --check on `path` as `system` loads it (at `base`, or at its own
    when None): (refusal message or None, [(name, ordinal, hint)])."""
    command = [runner, "--check", "--os", system] + (["--base", base] if base else []) + [path]
    completed = subprocess.run(command, capture_output=True, text=True, check=False)
    if completed.returncode != 0:
        return completed.stderr.strip() or f"ce-run status {completed.returncode}", []
    imports = []
    for line in completed.stdout.splitlines():
        match = IMPORT_LINE.match(line)
        if match:
            hint = int(match.group(3)) if match.group(3) else None
            imports.append((match.group(1), int(match.group(2)), hint))
    return None, imports


def read_facts(path, build, runner, objdump):
    """What problems_of examines, read from the image at `path`."""
    import pefile  # pylint: disable=import-outside-toplevel

    image = pefile.PE(path)
    header = image.OPTIONAL_HEADER
    relocations = [entry for block in getattr(image, "DIRECTORY_ENTRY_BASERELOC", [])
                   for entry in block.entries if entry.type != 0]
    triple = BUILDS[build]["instructions"]
    refusals = []
    imports = []
    for system in BUILDS[build]["systems"]:
        for base in (None,) if system in FIXED_BASE_SYSTEMS else (None, ELSEWHERE):
            refusal, listed = loads(runner, path, system, base)
            if refusal:
                refusals.append(refusal)
            imports = imports or listed
    return {
        "refusals": refusals,
        "machine": image.FILE_HEADER.Machine,
        "subsystem_version": (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
        "os_version": (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
        "sections": [(section.Name.rstrip(b"\0").decode("ascii", "replace"),
                      section.Characteristics) for section in image.sections],
        "imports": imports,
        "relocation_kinds": {entry.type for entry in relocations},
        "foreign": foreign_lines(objdump, path, triple,
                                 {header.ImageBase + entry.rva for entry in relocations})
                   if triple else [],
    }


def main():
    """Checks the image named on the command line."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="ce-run")
    parser.add_argument("--objdump", default="llvm-objdump-16")
    parser.add_argument("--skip-missing", action="store_true")
    parser.add_argument("build", choices=sorted(BUILDS))
    parser.add_argument("image")
    arguments = parser.parse_args()
    if arguments.skip_missing and not os.path.exists(arguments.image):
        print(f"device image: {arguments.image} is not built; not checked")
        return 77
    try:
        facts = read_facts(arguments.image, arguments.build, arguments.runner, arguments.objdump)
    except Exception as error:  # pylint: disable=broad-except  # pefile's own errors too
        print(f"device image: cannot read {arguments.image}: {error}")
        return 2
    found = problems_of(facts, arguments.build)
    for problem in found:
        print(f"PROBLEM {problem}")
    print("device image: OK" if not found else f"device image: {len(found)} problems")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
