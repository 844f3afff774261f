#!/usr/bin/python3
"""The device image check must report what ce-run refuses and each way the
build can miss its promise: machine, subsystem or OS version, a writable
code section, a missing or extra COREDLL import, a hint that is not the
ordinal, a MOVW/MOVT relocation and an instruction ARMv4 lacks in the ARMv4
image (found in an ARM program that returns by BX)."""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

# pylint: disable=wrong-import-position
import arm_image  # noqa: E402
import check_device_image as check  # noqa: E402

CODE = 0x60000020  # code, execute, read
ORDINALS = {"wsprintfW": 56, "CreateDirectoryW": 160, "RemoveDirectoryW": 161, "MoveFileW": 163,
            "DeleteFileW": 165, "GetFileAttributesW": 166, "FindFirstFileW": 167,
            "FindClose": 180, "FindNextFileW": 181, "RegCloseKey": 455, "RegOpenKeyExW": 461,
            "RegQueryValueExW": 463, "GetModuleFileNameW": 537}


def facts(build="armv4", **changes):
    """A sound image of `build`, changed as asked."""
    described = {
        "refusals": [],
        "machine": check.BUILDS[build]["machine"],
        "subsystem_version": check.BUILDS[build]["version"],
        "os_version": check.BUILDS[build]["version"],
        "sections": [(".text", CODE), (".rdata", 0x40000040)],
        "imports": [(name, ordinal, ordinal) for name, ordinal in sorted(ORDINALS.items())],
        "relocation_kinds": check.BUILDS[build]["relocations"],
        "foreign": [],
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
        self.assertEqual(set(ORDINALS), check.PROGRAM_FUNCTIONS)
        for build in check.BUILDS:
            self.assertEqual(check.problems_of(facts(build), build), [])

    def test_faults(self):
        refused = "CE 6.0 refuses it (ERROR_BAD_EXE_FORMAT, 193): a DLL"
        self.assert_finds("armv4", refused, refusals=[refused, refused], imports=[])
        self.assert_finds("armv4", "machine 0x1c4", machine=0x1C4)
        self.assert_finds("armv7", "subsystem version 7.00", subsystem_version=(7, 0))
        self.assert_finds("armv4", "os version 4.20", os_version=(4, 20))
        self.assert_finds("armv7", "both writable and executable",
                          sections=[(".text", CODE | check.SECTION_WRITE)])
        imports = facts()["imports"]
        self.assert_finds("armv4", "FindClose is not imported",
                          imports=[i for i in imports if i[0] != "FindClose"])
        self.assert_finds("armv7", "memset is imported", imports=imports + [("memset", 1, 1)])
        self.assert_finds("armv4", "hint 0, not its ordinal 56",
                          imports=[(n, o, 0 if n == "wsprintfW" else h) for n, o, h in imports])
        self.assert_finds("armv4", "relocations of type 7", relocation_kinds={3, 7})
        self.assert_finds("armv4", "an instruction armv4 lacks", foreign=["11008: e12fff1e bx lr"])

    @unittest.skipIf(arm_image.TOOLS_MISSING, "LLVM 16, pyelftools or pefile is missing")
    def test_finds_bx_in_an_arm_program(self):
        with tempfile.TemporaryDirectory(prefix="check-device-image-") as directory:
            source = ".arm\n.text\n.globl DeviceEntry\nDeviceEntry:\n mov r0, #0\n bx lr\n"
            _, _, path = arm_image.make_image(directory, source, "armv4t")
            found = check.foreign_lines("llvm-objdump-16", path, "armv4", set())
        self.assertEqual(len(found), 1, found)
        self.assertIn("e12fff1e", found[0])


if __name__ == "__main__":
    unittest.main()
