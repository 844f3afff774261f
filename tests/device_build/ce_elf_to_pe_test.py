#!/usr/bin/python3
"""The image writer (cmake/ce_elf_to_pe.py) refuses what it cannot carry into
the PE image exactly, each in a program that is sound but for it."""

import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import arm_image  # noqa: E402

SOUND = """
    .arm
    .text
    .globl DeviceEntry
DeviceEntry:
    ldr r0, =__imp_DeleteFileW
    ldr r0, [r0]
    mov pc, lr
    .pool
"""
# (fault added to the sound program, triple, the refusal)
FAULTS = [
    ("movw r0, #:lower16:DeviceEntry", "armv7", "relocation type 43"),  # no HIGHLOW
    (".section .init_array,\"aw\",%init_array\n.word DeviceEntry", "armv4",
     "section .init_array is none of"),  # a constructor table nothing runs
    (".weak Missing\n.word Missing", "armv4", "symbol Missing is undefined"),
    (".word __ImageBase", "armv4", "against __ImageBase, which no section"),  # absolute
]


@unittest.skipIf(arm_image.TOOLS_MISSING, "LLVM 16, pyelftools or pefile is missing")
class WriterRefusalsTest(unittest.TestCase):
    """Each fault is refused by name; the program without it is written."""

    def test_refusals(self):
        with tempfile.TemporaryDirectory(prefix="ce-elf-to-pe-") as directory:
            self.assertEqual(arm_image.make_image(directory, SOUND)[:2], (0, ""))
            for fault, triple, refusal in FAULTS:
                with self.subTest(fault=fault):
                    status, message, _ = arm_image.make_image(directory, SOUND + fault + "\n",
                                                              triple)
                    self.assertEqual(status, 1)
                    self.assertIn(refusal, message)


if __name__ == "__main__":
    unittest.main()
