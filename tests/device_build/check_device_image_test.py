#!/usr/bin/python3
"""The device image check must find each way a CE executable can go wrong:
wrong machine, subsystem or version, a stale checksum, an ARM-state entry,
a writable code section, another DLL, an import by ordinal, a missing or
extra COREDLL name, no relocations, a Thumb-2 relocation in the ARMv5TE
image, and a relocation that points outside the image."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import check_device_image as check  # noqa: E402

BASE = 0x10000
TEXT, RDATA = 0x1000, 0x2000
CODE = 0x60000020  # code, execute, read
READ_ONLY = 0x40000040  # initialized data, read


def movw_movt(address):
    """Thumb-2 MOVW r0 / MOVT r0 loading `address` (ARM ARM encodings T3, T1)."""
    def encode(first, value):
        return (first | ((value >> 12) & 0xF) | (((value >> 11) & 1) << 10),
                (((value >> 8) & 7) << 12) | (value & 0xFF))
    return struct.pack("<4H", *encode(0xF240, address & 0xFFFF), *encode(0xF2C0, address >> 16))


def facts(build="armv5te", **changes):
    """A sound image of `build`, changed as asked."""
    memory = {TEXT + 0x40: struct.pack("<I", BASE + RDATA + 8),
              TEXT + 0x80: movw_movt(BASE + RDATA + 0x10)}
    relocations = [(check.RELOCATION_HIGHLOW, TEXT + 0x40), (check.RELOCATION_ABSOLUTE, 0)]
    if build == "armv7":
        relocations.append((check.RELOCATION_THUMB_MOV32, TEXT + 0x80))
    described = {
        "machine": check.BUILDS[build]["machine"],
        "subsystem": 9,
        "subsystem_version": check.BUILDS[build]["version"],
        "checksum_ok": True,
        "entry": TEXT + 0x101,
        "sections": [(".text", TEXT, TEXT + 0x300, CODE), (".rdata", RDATA, RDATA + 0x200,
                                                            READ_ONLY)],
        "imports": {"COREDLL.dll": sorted(check.PROGRAM_FUNCTIONS | check.STARTUP_FUNCTIONS)},
        "relocations": relocations,
        "base": BASE,
        "size": 0x4000,
        "read": lambda rva, length: memory.get(rva, b"")[:length],
    }
    described.update(changes)
    return described


class DeviceImageCheckTest(unittest.TestCase):
    """Each fault gives its problem, and a sound image none."""

    def assert_finds(self, build, expected, **changes):
        """The check of `build` with `changes` reports `expected` and only it."""
        found = check.problems_of(facts(build, **changes), build)
        self.assertEqual(len(found), 1, found)
        self.assertIn(expected, found[0])

    def test_sound_images_pass(self):
        for build in check.BUILDS:
            self.assertEqual(check.problems_of(facts(build), build), [])

    def test_header_faults(self):
        self.assert_finds("armv5te", "machine 0x1c4", machine=0x1C4)
        self.assert_finds("armv7", "subsystem 2", subsystem=2)
        self.assert_finds("armv5te", "version 6.00", subsystem_version=(6, 0))
        self.assert_finds("armv7", "checksum", checksum_ok=False)
        self.assert_finds("armv7", "not Thumb", entry=TEXT + 0x100)
        self.assert_finds("armv7", "no executable section", entry=RDATA + 1)
        writable_code = [(".text", TEXT, TEXT + 0x300, CODE | check.SECTION_WRITE)]
        self.assert_finds("armv5te", "both writable and executable", sections=writable_code)

    def test_import_faults(self):
        names = sorted(check.PROGRAM_FUNCTIONS | check.STARTUP_FUNCTIONS)
        self.assert_finds("armv7", "imports from KERNEL32.dll",
                          imports={"COREDLL.dll": names, "KERNEL32.dll": ["Sleep"]})
        self.assert_finds("armv7", "by ordinal 17",
                          imports={"COREDLL.dll": names + [17]})
        self.assert_finds("armv5te", "does not supply ExitProcess",
                          imports={"COREDLL.dll": [n for n in names if n != "ExitProcess"]})
        self.assert_finds("armv5te", "supplies memset",
                          imports={"COREDLL.dll": names + ["memset"]})

    def test_relocation_faults(self):
        self.assert_finds("armv5te", "no base relocations", relocations=[])
        thumb2 = [(check.RELOCATION_HIGHLOW, TEXT + 0x40),
                  (check.RELOCATION_THUMB_MOV32, TEXT + 0x80)]
        self.assert_finds("armv5te", "relocations of type 7", relocations=thumb2)
        self.assert_finds("armv7", "patches no address",
                          relocations=[(check.RELOCATION_THUMB_MOV32, TEXT + 0x40)])
        outside = {TEXT + 0x40: struct.pack("<I", BASE + 0x4000)}
        self.assert_finds("armv5te", "outside the image",
                          read=lambda rva, length: outside.get(rva, b"")[:length])


if __name__ == "__main__":
    unittest.main()
