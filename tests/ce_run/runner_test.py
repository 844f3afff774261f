#!/usr/bin/env python3
"""ce-run's own checks: each fault it must catch, in a small hand-made image
(images/*.s, assembled and linked here with clang-16 and lld-link-16), bad
files it must refuse without crashing, and, given the device executables,
their refusal by the ARMv5TE model, runs that survive any damage to the file
without a crash, and a trace equal to the host build's.

    runner_test.py --runner build/ce-run
                   [--armv7 EXE --armv5te EXE --host-program build/servicepack-cleanup]
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "images")
FAULT = 70
BAD_IMAGE = 65
SETTINGS = argparse.Namespace()


def build_images(directory):
    """Assembles and links every images/*.s into `directory`; returns the
    names built."""
    for definition in ("coredll", "kernel32"):
        subprocess.run(
            [SETTINGS.dlltool, "-m", "arm", "-d", os.path.join(IMAGES, definition + ".def"),
             "-l", os.path.join(directory, definition + ".lib")],
            check=True,
        )
    names = []
    for source in sorted(os.listdir(IMAGES)):
        if not source.endswith(".s"):
            continue
        name = source[:-2]
        obj = os.path.join(directory, name + ".o")
        subprocess.run(
            [SETTINGS.clang, "--target=thumbv7-windows-msvc", "-c", os.path.join(IMAGES, source),
             "-o", obj],
            check=True,
        )
        subprocess.run(
            [SETTINGS.lld_link, "/nologo", "/nodefaultlib", "/machine:arm", "/subsystem:windows",
             "/entry:start", obj, os.path.join(directory, "coredll.lib"),
             os.path.join(directory, "kernel32.lib"), "/out:" + os.path.join(directory, name + ".exe")],
            check=True,
        )
        names.append(name)
    return names


class RunnerCase(unittest.TestCase):
    """Runs ce-run in a scratch device root."""

    scratch = None

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="ce-run-test-")
        cls.root = os.path.join(cls.scratch, "root")
        os.mkdir(cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_runner(self, *arguments, env=None):
        """(status, standard error) of ce-run with `arguments`."""
        completed = subprocess.run(
            [SETTINGS.runner] + list(arguments), cwd=self.root, env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            timeout=120, check=False,
        )
        self.assertEqual(completed.stdout, b"", "ce-run writes nothing to standard output")
        return completed.returncode, completed.stderr.decode("utf-8", "replace")

    def assert_ends(self, arguments, status, pattern):
        """ce-run with `arguments` ends with `status` and a message matching
        `pattern` (empty standard error when None)."""
        got, message = self.run_runner(*arguments)
        self.assertEqual(got, status, message)
        if pattern is None:
            self.assertEqual(message, "")
        else:
            self.assertRegex(message, pattern)


class FaultImagesTest(RunnerCase):
    """Each fault the runner must catch, in an image made to commit it."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.images = os.path.join(cls.scratch, "images")
        os.mkdir(cls.images)
        build_images(cls.images)

    def image(self, name):
        return os.path.join(self.images, name + ".exe")

    def test_exit_status_and_relocation(self):
        # ExitProcess(42) where 42 is read through relocated addresses:
        # moved to another base, a missed relocation reads unmapped memory.
        for base in ([], ["--base", "0x10000"], ["--base", "0x20000000"]):
            with self.subTest(base=base):
                self.assert_ends(base + [self.image("exit_status")], 42, None)
        self.assert_ends(["--base", "0x12345", self.image("exit_status")], BAD_IMAGE, "--base")

    def test_entry_may_return_with_registers_restored(self):
        self.assert_ends([self.image("entry_returns")], 5, None)

    def test_callee_saved_register_or_sp_not_restored(self):
        self.assert_ends([self.image("clobbers_r7")], FAULT,
                         r"entry returned with r7 = 0x00000000, not restored")
        self.assert_ends([self.image("moves_sp")], FAULT,
                         r"entry returned with SP = 0x7FEFFFF8, not restored to 0x7FF00000")
        self.assert_ends([self.image("exits_with_r5_changed")], FAULT,
                         r"ExitProcess called with r5 = 0x00000000, not the entry's 0xC0DE0005")

    def test_invalid_memory_access_names_address_and_instruction(self):
        self.assert_ends([self.image("reads_null")], FAULT,
                         r"read from unmapped 0x00000000 \(4 bytes\) by the instruction at "
                         r"0x[0-9A-F]{8}: 6800")
        self.assert_ends([self.image("writes_rdata")], FAULT,
                         r"write to read-only 0x[0-9A-F]{8} \(4 bytes\) by the instruction at "
                         r"0x[0-9A-F]{8}: 6000")
        self.assert_ends([self.image("overflows_stack")], FAULT, r"stack \(64 KiB\) overflowed")
        self.assert_ends([self.image("bad_pointer")], FAULT,
                         r"COREDLL call DeleteFileW .*cannot read 2 bytes at 0x00001234")

    def test_invalid_instruction(self):
        self.assert_ends([self.image("undefined")], FAULT,
                         r"invalid instruction for the ARMv7 \(Cortex-A8\) CPU at 0x[0-9A-F]{8}: de01")
        self.assert_ends(["--cpu", "armv5te", self.image("exit_status")], FAULT,
                         r"invalid instruction for the ARMv5TE \(ARM926\) CPU at "
                         r"0x[0-9A-F]{8}: f2[0-9a-f]{2} [0-9a-f]{4} \(a Thumb-2 encoding\)")

    def test_instruction_budget(self):
        self.assert_ends(["--budget", "10000", self.image("hangs")], FAULT,
                         r"instruction budget of 10000 exceeded")

    def test_imports_it_cannot_provide(self):
        self.assert_ends([self.image("unknown_import")], BAD_IMAGE,
                         r"imports COREDLL.dll!Sleep, which ce-run does not implement")
        self.assert_ends([self.image("other_library")], BAD_IMAGE,
                         r"imports from KERNEL32.dll: only COREDLL.dll is provided")


class BadFilesTest(RunnerCase):
    """Files that are no device executable are refused, never crash."""

    def write(self, name, data):
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as handle:
            handle.write(data)
        return path

    def test_refuses_what_is_not_an_arm_pe_image(self):
        self.assert_ends([self.write("empty.exe", b"")], BAD_IMAGE, r"not a PE image")
        self.assert_ends([self.write("text.exe", b"MZ" + b"x" * 100)], BAD_IMAGE, r"PE signature")
        self.assert_ends([SETTINGS.runner], BAD_IMAGE, r"not a PE image")
        self.assert_ends([os.path.join(self.scratch, "missing.exe")], BAD_IMAGE, r"cannot open")
        x86 = bytearray(b"MZ" + bytes(0x3A) + (0x40).to_bytes(4, "little") + b"PE\0\0")
        x86 += (0x14C).to_bytes(2, "little") + bytes(18)
        self.assert_ends([self.write("x86.exe", bytes(x86))], BAD_IMAGE,
                         r"not an ARM image: machine 0x014C")
        self.assert_ends([], 64, r"usage")
        self.assert_ends(["--cpu", "armv4", "x.exe"], 64, r"usage")


class DeviceExecutablesTest(RunnerCase):
    """The device executables themselves (when given)."""

    def setUp(self):
        if not SETTINGS.armv7 or not SETTINGS.armv5te:
            self.skipTest("no device executables given")

    def test_armv5te_model_refuses_the_armv7_executable(self):
        self.assert_ends(["--cpu", "armv5te", SETTINGS.armv7], FAULT,
                         r"invalid instruction for the ARMv5TE \(ARM926\) CPU .*Thumb-2")
        # The ARMv5TE executable runs on both models.
        for cpu in ("armv5te", "armv7"):
            self.assert_ends(["--cpu", cpu, SETTINGS.armv5te], 0, None)

    def test_damaged_files_never_crash_the_runner(self):
        rng = random.Random(20261208)
        for program in (SETTINGS.armv7, SETTINGS.armv5te):
            with open(program, "rb") as handle:
                original = handle.read()
            samples = [original[:n] for n in range(0, len(original), 256)]
            for _ in range(60):
                damaged = bytearray(original)
                for _ in range(rng.randint(1, 8)):
                    damaged[rng.randrange(0, 0x400)] = rng.randrange(256)
                samples.append(bytes(damaged))
            for number, data in enumerate(samples):
                path = self.write_sample(data)
                status, message = self.run_runner("--budget", "200000", path)
                # A signal shows as a negative status; a crash is never right.
                self.assertIn(status, (0, BAD_IMAGE, FAULT), f"sample {number}: {message}")
                if status != 0:
                    self.assertRegex(message, r"^ce-run: ", f"sample {number}")

    def write_sample(self, data):
        path = os.path.join(self.scratch, "sample.exe")
        with open(path, "wb") as handle:
            handle.write(data)
        return path

    def test_trace_matches_the_host_build(self):
        if not SETTINGS.host_program:
            self.skipTest("no host program given")
        traces = {}
        runs = {
            "host": [],
            "armv7": [SETTINGS.runner],
            "armv5te": [SETTINGS.runner],
            "armv7 relocated": [SETTINGS.runner, "--base", "0x30000000"],
            "armv5te relocated": [SETTINGS.runner, "--base", "0x30000000"],
        }
        for name, launcher in runs.items():
            program = SETTINGS.host_program if name == "host" else SETTINGS.armv7
            if name.startswith("armv5te"):
                program = SETTINGS.armv5te
            traces[name] = self.traced_run(launcher, program)
        for name, trace in traces.items():
            with self.subTest(run=name):
                self.assertEqual(trace, traces["host"])
        self.assertIn('MoveFileW("\\Temp\\ServicePack\\Setup.exe", '
                      '"\\Temp\\ServicePackOld\\PatchUnInstall.exe") = 1', traces["host"])

    def traced_run(self, launcher, program):
        """The trace of one typical run in a fresh root, pointers masked."""
        root = tempfile.mkdtemp(prefix="trace-", dir=self.scratch)
        old = os.path.join(root, "Temp", "ServicePackOld")
        os.makedirs(old)
        os.makedirs(os.path.join(root, "Temp", "ServicePack"))
        for name in ("a.dll", "b.txt", "Setup.ini"):
            with open(os.path.join(old, name), "w", encoding="utf-8") as handle:
                handle.write(name)
        os.chmod(os.path.join(old, "Setup.ini"), 0o444)
        with open(os.path.join(root, "Temp", "Pack.cab"), "w", encoding="utf-8") as handle:
            handle.write("cab")
        with open(os.path.join(root, "registry.reg"), "w", encoding="utf-8") as handle:
            handle.write("Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13]\n"
                         '"CabFile"="\\\\Temp\\\\Pack.cab"\n')
        placed = os.path.join(root, "Temp", "ServicePack", "Setup.exe")
        shutil.copy2(program, placed)
        completed = subprocess.run(
            launcher + [placed, "/quiet"], cwd=root, env=dict(os.environ, COREDLL_TRACE="1"),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            timeout=120, check=False,
        )
        self.assertEqual(completed.returncode, 0, completed.stderr.decode(errors="replace"))
        trace = completed.stderr.decode("utf-8", "replace")
        return re.sub(r"0x[0-9a-f]+", "0x?", trace)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runner", required=True)
    parser.add_argument("--armv7")
    parser.add_argument("--armv5te")
    parser.add_argument("--host-program")
    parser.add_argument("--clang", default="clang-16")
    parser.add_argument("--lld-link", default="lld-link-16")
    parser.add_argument("--dlltool", default="llvm-dlltool-16")
    arguments, rest = parser.parse_known_args()
    for name in ("runner", "armv7", "armv5te", "host_program"):
        value = getattr(arguments, name)
        setattr(arguments, name, os.path.abspath(value) if value else None)
    vars(SETTINGS).update(vars(arguments))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
