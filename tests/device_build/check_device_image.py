#!/usr/bin/python3
"""Checks a Windows CE ARM executable of the program (python3-pefile).

    check_device_image.py [--skip-missing] armv7|armv5te IMAGE.exe

- machine ARMNT (0x1C4) for armv7, THUMB (0x1C2) for armv5te;
- subsystem WINDOWS_CE_GUI (9) at the build's version (7.00 or 5.00), and a
  checksum that matches the file;
- a Thumb entry point (odd address) inside an executable section;
- imports: COREDLL.dll alone, by name, exactly the program's platform calls
  and the start-up's ExitProcess;
- no section both writable and executable;
- base relocations present, each of a kind the build's CPU needs (HIGHLOW
  words from literal pools; on ARMv7 also THUMB_MOV32 movw/movt pairs, which
  ARMv5TE has not) and each yielding an address inside the image.

Prints one line per problem and "device image: OK" or "device image: N
problems"; exits 1 on any problem, 2 when the image cannot be read, and 77
(CTest's skip) when --skip-missing is given and the image was never built.
"""

import os
import struct
import sys

DLL = "COREDLL.dll"
# What the program calls (src/cleanup) and what its start-up calls.
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
STARTUP_FUNCTIONS = {"ExitProcess"}

IMAGE_SUBSYSTEM_WINDOWS_CE_GUI = 9
SECTION_EXECUTE = 0x20000000
SECTION_WRITE = 0x80000000
RELOCATION_ABSOLUTE = 0  # padding at the end of a block
RELOCATION_HIGHLOW = 3
RELOCATION_THUMB_MOV32 = 7

BUILDS = {
    "armv7": {
        "machine": 0x1C4,
        "version": (7, 0),
        "relocations": {RELOCATION_HIGHLOW, RELOCATION_THUMB_MOV32},
    },
    "armv5te": {"machine": 0x1C2, "version": (5, 0), "relocations": {RELOCATION_HIGHLOW}},
}


def thumb_immediate16(first, second):
    """The 16-bit immediate of a Thumb-2 MOVW/MOVT (T3/T1) halfword pair."""
    return (
        ((first & 0x000F) << 12)
        | ((first & 0x0400) << 1)
        | ((second & 0x7000) >> 4)
        | (second & 0x00FF)
    )


def relocated_address(facts, kind, rva):
    """The address the relocation at `rva` makes, or None when the bytes
    there are not what a relocation of that kind patches."""
    data = facts["read"](rva, 8)
    if len(data) < 4:
        return None
    if kind == RELOCATION_HIGHLOW:
        return struct.unpack_from("<I", data)[0]
    if kind == RELOCATION_THUMB_MOV32 and len(data) == 8:
        halves = struct.unpack_from("<4H", data)
        if (halves[0] & 0xFBF0) != 0xF240 or (halves[2] & 0xFBF0) != 0xF2C0:
            return None
        return thumb_immediate16(*halves[:2]) | (thumb_immediate16(*halves[2:]) << 16)
    return None


def problems_of(facts, build):
    """Lines naming what is wrong with the image described by `facts`
    (see read_facts) for `build` ("armv7" or "armv5te")."""
    expected = BUILDS[build]
    found = []
    if facts["machine"] != expected["machine"]:
        found.append(f"machine {facts['machine']:#x}, not {expected['machine']:#x}")
    if facts["subsystem"] != IMAGE_SUBSYSTEM_WINDOWS_CE_GUI:
        found.append(f"subsystem {facts['subsystem']}, not WINDOWS_CE_GUI (9)")
    if facts["subsystem_version"] != expected["version"]:
        found.append("subsystem version %d.%02d, not %d.%02d"
                     % (facts["subsystem_version"] + expected["version"]))
    if not facts["checksum_ok"]:
        found.append("the checksum does not match the file")

    entry = facts["entry"]
    if entry % 2 == 0:
        found.append(f"entry point {entry:#x} is not Thumb code (even address)")
    if not any(start <= entry - 1 < end and flags & SECTION_EXECUTE
               for _, start, end, flags in facts["sections"]):
        found.append(f"entry point {entry:#x} lies in no executable section")

    for name, _, _, flags in facts["sections"]:
        if flags & SECTION_WRITE and flags & SECTION_EXECUTE:
            found.append(f"section {name} is both writable and executable")

    dlls = {dll.lower(): (dll, names) for dll, names in facts["imports"].items()}
    for dll in sorted(facts["imports"]):
        if dll.lower() != DLL.lower():
            found.append(f"imports from {dll}; the program may import from {DLL} only")
    _, names = dlls.get(DLL.lower(), (DLL, []))
    for name in names:
        if not isinstance(name, str):
            found.append(f"{DLL} import by ordinal {name}; the SDK's ordinals are not known")
    by_name = {name for name in names if isinstance(name, str)}
    wanted = PROGRAM_FUNCTIONS | STARTUP_FUNCTIONS
    for name in sorted(wanted - by_name):
        found.append(f"{DLL} does not supply {name}")
    for name in sorted(by_name - wanted):
        found.append(f"{DLL} supplies {name}, which the program does not call")

    relocations = facts["relocations"]
    if not relocations:
        found.append("no base relocations: the image could load only at its base")
    low, high = facts["base"], facts["base"] + facts["size"]
    foreign = {}
    for kind, rva in relocations:
        if kind == RELOCATION_ABSOLUTE:
            continue
        if kind not in expected["relocations"]:
            foreign[kind] = foreign.get(kind, 0) + 1
            continue
        address = relocated_address(facts, kind, rva)
        if address is None:
            found.append(f"relocation of type {kind} at {rva:#x} patches no address")
        elif not low <= address < high:
            found.append(f"relocation at {rva:#x} makes {address:#x}, outside the image")
    for kind, count in sorted(foreign.items()):
        found.append(f"{count} relocations of type {kind}, which the {build} build cannot use")
    return found


def read_facts(path):
    """What problems_of examines, read from the image at `path`."""
    import pefile  # pylint: disable=import-outside-toplevel

    image = pefile.PE(path)
    header = image.OPTIONAL_HEADER
    imports = {}
    for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", []):
        imports[entry.dll.decode("ascii", "replace")] = [
            item.ordinal if item.import_by_ordinal else item.name.decode("ascii", "replace")
            for item in entry.imports
        ]
    relocations = [
        (item.type, item.rva)
        for block in getattr(image, "DIRECTORY_ENTRY_BASERELOC", [])
        for item in block.entries
    ]
    sections = [
        (section.Name.rstrip(b"\0").decode("ascii", "replace"), section.VirtualAddress,
         section.VirtualAddress + section.Misc_VirtualSize, section.Characteristics)
        for section in image.sections
    ]
    return {
        "machine": image.FILE_HEADER.Machine,
        "subsystem": header.Subsystem,
        "subsystem_version": (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
        "checksum_ok": image.verify_checksum(),
        "entry": header.AddressOfEntryPoint,
        "sections": sections,
        "imports": imports,
        "relocations": relocations,
        "base": header.ImageBase,
        "size": header.SizeOfImage,
        "read": lambda rva, length: image.get_data(rva, length),
    }


def main():
    """Checks the image named on the command line."""
    arguments = sys.argv[1:]
    skip_missing = arguments[:1] == ["--skip-missing"]
    arguments = arguments[1:] if skip_missing else arguments
    if len(arguments) != 2 or arguments[0] not in BUILDS:
        print(__doc__.strip().split("\n\n")[1])
        return 2
    build, path = arguments
    if skip_missing and not os.path.exists(path):
        print(f"device image: {path} is not built; not checked")
        return 77
    try:
        facts = read_facts(path)
    except Exception as error:  # pylint: disable=broad-except  # pefile's own errors too
        print(f"device image: cannot read {path}: {error}")
        return 2
    found = problems_of(facts, build)
    for problem in found:
        print(f"PROBLEM {problem}")
    print("device image: OK" if not found else f"device image: {len(found)} problems")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
