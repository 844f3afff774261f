#!/usr/bin/env python3
"""ce-run's own checks: each fault it must catch, in a small hand-made image
(images/*.s, assembled and linked here with clang-16 and lld-link-16), the
CE loaders' refusals (of the two device executables built before the
ARMV4I and Compact 2013 builds, refused/*.exe, and of test images with a
header changed), bad files it must refuse without crashing, and, given the
device executables, the CPU models, runs that survive any damage to the
file without a crash, and a trace equal to the host build's.

    runner_test.py --runner build/ce-run
                   [--armv4 EXE --armv7 EXE --host-program build/servicepack-cleanup]
"""

import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGES = os.path.join(HERE, "images")
REFUSED = os.path.join(HERE, "refused")
FINISH = os.path.join(HERE, "..", "..", "cmake", "ce_finish_image.py")
# Hand-made ARMV4I images (ARMv4T Thumb, THUMB, 5.00); the others are
# Compact 2013's (Thumb-2, ARMNT, 8.00).
ARMV4I_IMAGES = {"calls_through_blx", "returns_by_pop_pc"}
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
        exe = os.path.join(directory, name + ".exe")
        armv4i = name in ARMV4I_IMAGES
        triple = "thumbv4t-pc-windows-msvc" if armv4i else "thumbv7-pc-windows-msvc"
        subprocess.run(
            [SETTINGS.clang, "-cc1as", "-triple", triple, "-filetype", "obj",
             os.path.join(IMAGES, source), "-o", obj],
            check=True,
        )
        subprocess.run(
            [SETTINGS.lld_link, "/nologo", "/nodefaultlib", "/machine:arm", "/subsystem:windows",
             "/entry:start", "/base:0x%x" % (0x20000 if name == "arm_state" else 0x10000), obj,
             os.path.join(directory, "coredll.lib"),
             os.path.join(directory, "kernel32.lib"), "/out:" + exe],
            check=True,
        )
        subprocess.run(
            ["/usr/bin/python3", FINISH, "--machine", "0x1C2" if armv4i else "0x1C4",
             "--subsystem-version", "5.0" if armv4i else "8.0", exe],
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
        # The entry returns 42, read through relocated addresses: moved to
        # another base, a missed relocation reads unmapped memory.
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

    def test_invalid_memory_access_names_address_and_instruction(self):
        self.assert_ends([self.image("reads_null")], FAULT,
                         r"read from unmapped 0x00000000 \(4 bytes\) by the instruction at "
                         r"0x[0-9A-F]{8}: 6800")
        self.assert_ends([self.image("writes_rdata")], FAULT,
                         r"write to read-only 0x[0-9A-F]{8} \(4 bytes\) by the instruction at "
                         r"0x[0-9A-F]{8}: 6000")
        # lld reserves 1 MiB, the most CE gives.
        self.assert_ends([self.image("overflows_stack")], FAULT, r"stack \(1024 KiB\) overflowed")
        self.assert_ends([self.image("bad_pointer")], FAULT,
                         r"COREDLL call DeleteFileW .*cannot read 2 bytes at 0x00001234")

    def test_wsprintf_reads_each_argument_when_its_conversion_is_reached(self):
        # N "%s" over 1,000 arguments, the first P L"", the rest L"ab" but the
        # last 0x1234 unless P is 1,000.  CE's runtime (output.c) reads each
        # when it reaches it and stops at the first character past 1,023.
        rows = [(65, 1000, 0, None), (100, 1000, 0, None), (1000, 1000, 0, None),
                (65, 64, 2, None), (100, 64, 72, None), (1000, 64, 1023 & 0xFF, None),
                (1000, 999, FAULT, r"wsprintfW .*cannot read 2 bytes at 0x00001234"),
                (1001, 1000, FAULT, r"wsprintfW .*cannot read 4 bytes at 0x7FF00000")]
        for n, p, status, pattern in rows:
            with self.subTest(n=n, p=p):
                self.assert_ends([self.image("formats_strings"), chr(n) + chr(p)], status, pattern)

    def test_invalid_instruction(self):
        self.assert_ends([self.image("undefined")], FAULT,
                         r"invalid instruction for the ARMv7 \(Cortex-A8\) CPU at 0x[0-9A-F]{8}: de01")
        self.assert_ends(["--cpu", "armv4t", self.image("exit_status")], FAULT,
                         r"invalid instruction for the ARMv4T \(TI925T\) CPU at "
                         r"0x[0-9A-F]{8}: f2[0-9a-f]{2} [0-9a-f]{4} \(a Thumb-2 encoding\)")

    def test_armv4t_has_no_blx_and_no_interworking_pop(self):
        # Both run from ARMv5 on; on ARMv4T, BLX is undefined and POP {PC}
        # stays in Thumb state on COREDLL's ARM code.
        self.assert_ends([self.image("calls_through_blx")], FAULT,
                         r"invalid instruction for the ARMv4T \(TI925T\) CPU at "
                         r"0x[0-9A-F]{8}: 4788$")
        self.assert_ends([self.image("returns_by_pop_pc")], FAULT,
                         r"COREDLL entry point 0x[0-9A-F]{8} reached in Thumb state, not ARM")
        for cpu in ("armv5te", "armv6"):
            self.assert_ends(["--cpu", cpu, self.image("calls_through_blx")], 7, None)
            self.assert_ends(["--cpu", cpu, self.image("returns_by_pop_pc")], 3, None)

    def arm_program(self, **changes):
        """images/arm_state as an ARM (0x1C0) program of version 3.00."""
        return self.changed("arm_state", machine=0x1C0, subsystem_version=(3, 0), entry=0x1000,
                            **changes)

    def test_arm_programs(self):
        # Every ARM kernel from CE 3.0 to Compact 7 takes ARM code, with or
        # without Thumb support, on every CPU; Compact 2013 does not.
        program = self.arm_program()
        for version in ("ce3", "ce42", "ce5", "ce6", "ce7"):
            for cpu in ("armv4", "armv4t", "armv5te", "armv6", "armv7"):
                self.assert_ends(["--os", version, "--cpu", cpu, program], 42, None)
        self.assert_ends(["--os", "ce2013", program], BAD_IMAGE, r"machine 0x01C0 \(ARM\)")
        # StrongARM has no BX: COREDLL returns by MOV PC, LR there, and a
        # program's own BX LR is undefined.
        bx_lr = self.arm_program(replace=(bytes.fromhex("0ef0a0e1"), bytes.fromhex("1eff2fe1")))
        self.assert_ends([bx_lr], FAULT, r"invalid instruction for the ARMv4 \(StrongARM")
        self.assert_ends(["--cpu", "armv4t", bx_lr], 42, None)

    def test_instruction_budget(self):
        self.assert_ends(["--budget", "10000", self.image("hangs")], FAULT,
                         r"instruction budget of 10000 exceeded")

    def test_imports_it_cannot_provide(self):
        # Up to CE 5.0 the kernel refuses the load; from 6.0 on COREDLL skips
        # the entry and ends the process with 0, which a check must not pass.
        skipped = (r"CE 6.0 starts it, but COREDLL skips the entry: imports COREDLL.dll!Sleep, .*; "
                   r"the entry never ran, and the device's process ends with status 0$")
        thumb = self.changed("unknown_import", machine=0x1C2, subsystem_version=(5, 0))
        self.assert_ends(["--os", "ce6", thumb], 0, skipped)
        self.assert_ends(["--os", "ce6", "--check", thumb], BAD_IMAGE, skipped)
        self.assert_ends(["--os", "ce5", thumb], BAD_IMAGE,
                         r"CE 5.0 refuses it \(ERROR_BAD_EXE_FORMAT, 193\): imports COREDLL.dll!Sleep")
        self.assert_ends([self.image("other_library")], BAD_IMAGE,
                         r"imports from KERNEL32.dll: only COREDLL.dll is provided")
        # --headers-only takes any library's imports and what Microsoft's
        # linker adds and CE ignores: resources, .pdata, TLS, load
        # configuration, delayed imports, a checksum of 0.
        linked = self.changed("other_library", checksum=0, directories=(2, 3, 9, 10, 13))
        completed = subprocess.run([SETTINGS.runner, "--check", "--headers-only", linked],
                                   capture_output=True, check=False)
        self.assertEqual(completed.returncode, 0, completed.stderr)

    def changed(self, name, replace=(b"", b""), directories=(), **fields):
        """A copy of image `name` with the first `replace[0]` replaced and
        header fields changed: machine, characteristics, entry, image_base,
        stack_reserve, subsystem_version (major, minor), subsystem,
        relocation_rva, relocation_size, checksum; and the data `directories`
        numbered set to 16 bytes at RVA 0x2000."""
        with open(self.image(name), "rb") as handle:
            data = bytearray(handle.read().replace(*replace, 1))
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        optional = pe + 24
        places = {"machine": (pe + 4, "<H"), "characteristics": (pe + 22, "<H"),
                  "entry": (optional + 16, "<I"), "image_base": (optional + 28, "<I"),
                  "checksum": (optional + 64, "<I"), "stack_reserve": (optional + 72, "<I"),
                  "subsystem_version": (optional + 48, "<HH"), "subsystem": (optional + 68, "<H"),
                  "relocation_rva": (optional + 96 + 5 * 8, "<I"),
                  "relocation_size": (optional + 96 + 5 * 8 + 4, "<I")}
        for number in directories:
            places[number], fields[number] = (optional + 96 + 8 * number, "<II"), (0x2000, 16)
        for field, value in fields.items():
            at, layout = places[field]
            struct.pack_into(layout, data, at, *(value if isinstance(value, tuple) else (value,)))
        path = os.path.join(self.images, "changed.exe")
        with open(path, "wb") as handle:
            handle.write(bytes(data))
        return path

    def test_loader_rules(self):
        bad_format = r"refuses it \(ERROR_BAD_EXE_FORMAT, 193\): "
        self.assert_ends([self.changed("exit_status", subsystem_version=(8, 1))], BAD_IMAGE,
                         r"Compact 2013 refuses it \(ERROR_OLD_WIN_VERSION, 1150\): "
                         r"subsystem version 8.01, newer than the system's 8.00")
        self.assert_ends([self.changed("exit_status", subsystem=2)], BAD_IMAGE,
                         bad_format + "subsystem 2, not WINDOWS_CE_GUI")
        self.assert_ends([self.changed("exit_status", characteristics=0x2102)], BAD_IMAGE,
                         bad_format + "a DLL")
        # A relocation directory that starts no section counts as stripped.
        unplaced = self.changed("exit_status", relocation_rva=0x3004)
        self.assert_ends([unplaced], 42, None)
        self.assert_ends(["--base", "0x20000000", unplaced], BAD_IMAGE,
                         r"no base relocations Compact 2013 applies")
        # Up to CE 6.0 the stripped flag alone decides: clear, an empty
        # relocation directory puts a program based at 0x20000 at 0x10000
        # with nothing fixed up; Compact 7 lets the kernel place it.
        empty = self.arm_program(relocation_rva=0, relocation_size=0)
        for arguments in (["--os", "ce5"], ["--os", "ce6"], ["--os", "ce7", "--base", "0x30000"]):
            self.assert_ends(arguments + [empty], FAULT, r"read from unmapped 0x0002")
        # CE 5.0 gives at least twice MIN_STACK_RESERVE (8 KiB) on ARM.
        self.assert_ends(["--os", "ce5", self.changed("overflows_stack", machine=0x1C2,
                                                      subsystem_version=(5, 0), stack_reserve=1)],
                         FAULT, r"the stack \(16 KiB\) overflowed")
        # A kernel built without Thumb support takes ARM code alone.
        thumb = self.image("returns_by_pop_pc")
        self.assert_ends(["--os", "ce6", "--kernel", "arm", thumb], BAD_IMAGE,
                         r"\(ERROR_BAD_EXE_FORMAT, 193\): machine 0x01C2 .* only 0x01C0")
        self.assert_ends(["--os", "ce6", "--kernel", "thumb", "--cpu", "armv5te", thumb], 3, None)
        # CE 6.0 moves a program based elsewhere to 0x10000, but applies
        # MOVW/MOVT relocations only from Compact 7 on.
        armv4i = self.changed("exit_status", machine=0x1C2, subsystem_version=(5, 0),
                              image_base=0x20000)
        self.assert_ends(["--os", "ce6", armv4i], BAD_IMAGE,
                         r"base relocation type 7, which this CE version does not apply")
        completed = subprocess.run([SETTINGS.runner, "--check", "--os", "ce7", "--base",
                                    "0x10000", armv4i], capture_output=True, check=False)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertEqual(completed.stdout, b"Compact 7 loads it at 0x00010000\n")
        self.assert_ends(["--os", "ce5", "--base", "0x20000000", armv4i], BAD_IMAGE,
                         r"--base: CE 5.0 loads every relocatable program at 0x00010000")


class RefusedImagesTest(RunnerCase):
    """The two device executables built before the ARMV4I and Compact 2013
    builds: no version's loader passes them, each for its own reason."""

    def test_every_version_refuses_them(self):
        old_armv5te = os.path.join(REFUSED, "armv5te-e3a3fd0.exe")
        old_armv7 = os.path.join(REFUSED, "armv7-e3a3fd0.exe")
        no_export = r"imports COREDLL.dll!ExitProcess, which is not in ce-run's table"
        thumb_only = r"refuses it \(ERROR_BAD_EXE_FORMAT, 193\): machine 0x01C4 \(ARMNT\)"
        expected = [
            (old_armv5te, "ce5", r"CE 5.0 refuses it \(ERROR_BAD_EXE_FORMAT, 193\): " + no_export),
            (old_armv5te, "ce6", r"CE 6.0 starts it, but COREDLL skips the entry: " + no_export),
            (old_armv5te, "ce7", r"Compact 7 starts it, but COREDLL skips the entry: " + no_export),
            (old_armv5te, "ce2013", r"Compact 2013 refuses it .*machine 0x01C2 \(THUMB\)"),
            (old_armv7, "ce5", thumb_only),
            (old_armv7, "ce6", thumb_only),
            (old_armv7, "ce7", thumb_only),
            (old_armv7, "ce2013", r"Compact 2013 refuses it \(ERROR_BAD_EXE_FORMAT, 193\): "
                                  r"subsystem version 7.00, older than the least it loads, 8.00"),
        ]
        for program, version, pattern in expected:
            with self.subTest(program=os.path.basename(program), os=version):
                self.assert_ends(["--os", version, "--check", program], BAD_IMAGE, pattern)


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
        self.assert_ends(["--cpu", "armv3", "x.exe"], 64, r"usage")
        self.assert_ends(["--os", "ce4", "x.exe"], 64, r"usage")


class DeviceExecutablesTest(RunnerCase):
    """The device executables themselves (when given)."""

    def setUp(self):
        if not SETTINGS.armv7 or not SETTINGS.armv4:
            self.skipTest("no device executables given")

    def test_cpu_models(self):
        # The ARM executable runs on every CPU from ARMv4 on; the Compact
        # 2013 one needs Thumb-2.
        for cpu in ("armv4", "armv4t", "armv5te", "armv6", "armv7"):
            self.assert_ends(["--cpu", cpu, SETTINGS.armv4], 0, None)
        self.assert_ends(["--cpu", "armv6", SETTINGS.armv7], FAULT,
                         r"invalid instruction for the ARMv6 \(ARM1136\) CPU .*Thumb-2")

    def test_damaged_files_never_crash_the_runner(self):
        rng = random.Random(20261208)
        for program in (SETTINGS.armv7, SETTINGS.armv4):
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
            "armv4": [SETTINGS.runner],
            "armv7 relocated": [SETTINGS.runner, "--base", "0x30000000"],
            "armv4 relocated": [SETTINGS.runner, "--base", "0x30000000"],
        }
        for name, launcher in runs.items():
            program = SETTINGS.host_program if name == "host" else SETTINGS.armv7
            if name.startswith("armv4"):
                program = SETTINGS.armv4
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
    parser.add_argument("--armv4")
    parser.add_argument("--host-program")
    parser.add_argument("--clang", default="clang-16")
    parser.add_argument("--lld-link", default="lld-link-16")
    parser.add_argument("--dlltool", default="llvm-dlltool-16")
    arguments, rest = parser.parse_known_args()
    for name in ("runner", "armv7", "armv4", "host_program"):
        value = getattr(arguments, name)
        setattr(arguments, name, os.path.abspath(value) if value else None)
    vars(SETTINGS).update(vars(arguments))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
