#!/usr/bin/env python3
"""rehearse_test.py --program PROGRAM - scripts/rehearse.sh as a user runs it.

On the sample device tree (scripts/make_sample_device.py) the report must
list exactly what the cleanup is documented to do there, tell the program's
move from the deletion of the old uninstaller of the same name, leave the
given folder as it was (names, inodes, modes, times, contents) and leave no
scratch folder behind unless asked to keep it.
"""
import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = None

# The sample after a run started as \Temp\ServicePack\Setup.exe: the old
# pack's plain writable files deleted (the read-only one and the
# subdirectory stay), the program moved in as the uninstaller, the emptied
# pack directory removed, and the cabinet that CabFile names deleted.
TYPICAL_RUN = [
    "deleted \\My Documents\\ZK4070 ServicePack 1.13.cab",
    "deleted \\Temp\\ServicePackOld\\PatchUnInstall.exe",
    "deleted \\Temp\\ServicePackOld\\ServicePack 1.12.log",
    "moved \\Temp\\ServicePack\\Setup.exe -> \\Temp\\ServicePackOld\\PatchUnInstall.exe",
    "removed directory \\Temp\\ServicePack",
]


def fingerprint(root):
    """Everything a run could change under root, links not followed."""
    found = {}
    for directory, subdirectories, files in os.walk(root):
        for name in subdirectories + files:
            path = os.path.join(directory, name)
            info = os.lstat(path)
            digest = None
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as data:
                    digest = hashlib.sha256(data.read()).hexdigest()
            found[os.path.relpath(path, root)] = (info.st_ino, info.st_mode, info.st_size,
                                                  info.st_mtime_ns, digest)
    return found


def changes(report):
    """The report's change lines, blanks squeezed."""
    section = report.split("What the run changed:\n", 1)[1].split("\n\n", 1)[0]
    return [re.sub(r" +", " ", line.strip()) for line in section.splitlines()]


class RehearseTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="rehearse-test.")
        self.scratch = os.path.join(self.work, "tmp")
        os.mkdir(self.scratch)
        self.device = os.path.join(self.work, "device")
        subprocess.run([sys.executable, os.path.join(REPO, "scripts", "make_sample_device.py"),
                        self.device, PROGRAM], check=True)

    def tearDown(self):
        for directory, subdirectories, _ in os.walk(self.work):
            for name in subdirectories:
                if not os.path.islink(os.path.join(directory, name)):
                    os.chmod(os.path.join(directory, name), 0o700)
        shutil.rmtree(self.work)

    def rehearse(self, *arguments, device=None, timeout=None):
        env = dict(os.environ, REHEARSE_PROGRAM=PROGRAM, TMPDIR=self.scratch)
        env.pop("COREDLL_TRACE", None)
        return subprocess.run(["bash", os.path.join(REPO, "scripts", "rehearse.sh"),
                               device or self.device, *arguments],
                              env=env, capture_output=True, text=True, timeout=timeout)

    def test_typical_run_reported_on_a_copy(self):
        # A link in the folder to a directory outside it, which the run and the
        # removal of the copy must leave alone.
        outside = os.path.join(self.work, "outside")
        os.mkdir(outside)
        with open(os.path.join(outside, "keep.txt"), "w") as keep:
            keep.write("outside the device\n")
        os.chmod(outside, 0o500)
        os.symlink(outside, os.path.join(self.device, "Windows", "elsewhere"))
        before = fingerprint(self.device)
        result = self.rehearse()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(changes(result.stdout), TYPICAL_RUN)
        self.assertIn("registry: registry.reg", result.stdout)
        self.assertIn("  confinement: ", result.stdout)
        self.assertEqual(fingerprint(self.device), before, "the given folder was changed")
        self.assertEqual(os.listdir(self.scratch), [], "the scratch folder was left behind")
        self.assertEqual(os.stat(outside).st_mode & 0o777, 0o500)
        self.assertEqual(os.listdir(outside), ["keep.txt"])

    def test_program_elsewhere_kept_and_traced(self):
        before = fingerprint(self.device)
        result = self.rehearse("--as", "\\windows\\Tools\\Cleanup.exe", "--keep", "--trace")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # Setup.exe is not the running program now: it stays, and so does the
        # pack directory holding it.
        self.assertEqual(changes(result.stdout), [
            "deleted \\My Documents\\ZK4070 ServicePack 1.13.cab",
            "deleted \\Temp\\ServicePackOld\\PatchUnInstall.exe",
            "deleted \\Temp\\ServicePackOld\\ServicePack 1.12.log",
            "moved \\Windows\\Tools\\Cleanup.exe -> \\Temp\\ServicePackOld\\PatchUnInstall.exe",
        ])
        self.assertIn('MoveFileW("\\Windows\\Tools\\Cleanup.exe", '
                      '"\\Temp\\ServicePackOld\\PatchUnInstall.exe") = 1', result.stdout)
        kept = re.search(r"The rehearsed copy is kept in (\S+)", result.stdout)
        self.assertIsNotNone(kept, result.stdout)
        self.assertTrue(kept.group(1).startswith(self.scratch + os.sep))
        moved = os.path.join(kept.group(1), "Temp", "ServicePackOld", "PatchUnInstall.exe")
        with open(moved, "rb") as copy, open(PROGRAM, "rb") as program:
            self.assertEqual(copy.read(), program.read())
        self.assertTrue(os.path.isfile(os.path.join(kept.group(1), "Temp", "ServicePack", "Setup.exe")))
        self.assertEqual(fingerprint(self.device), before, "the given folder was changed")

    def test_the_registry_note_tells_what_the_run_reads(self):
        # A link is followed inside the copy only, as the host layer follows it.
        registry = os.path.join(self.device, "registry.reg")
        outside = shutil.copy(registry, self.work)
        shutil.copy(registry, os.path.join(self.device, "Windows", "saved.reg"))
        os.mkfifo(os.path.join(self.device, "pipe"))
        none = TYPICAL_RUN[1:]
        for make, note, changed in (
                (lambda: None, "none, no registry.reg in the folder", none),
                (lambda: os.mkfifo(registry), "none, registry.reg is a FIFO, not a regular file",
                 none),
                (lambda: os.mkdir(registry),
                 "none, registry.reg is a directory, not a regular file", none),
                (lambda: os.symlink(outside, registry), "none, registry.reg is a symbolic link to "
                 "nothing inside the copy (No such file or directory)", none),
                (lambda: os.symlink("pipe", registry),
                 "none, registry.reg is a symbolic link to a FIFO, not a regular file", none),
                (lambda: os.symlink("/Windows/saved.reg", registry),
                 "registry.reg, a symbolic link to a file inside the copy", TYPICAL_RUN)):
            if os.path.isdir(registry) and not os.path.islink(registry):
                os.rmdir(registry)
            elif os.path.lexists(registry):
                os.unlink(registry)
            make()
            result = self.rehearse(timeout=60)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn(f"  registry: {note}", result.stdout)
            self.assertEqual(changes(result.stdout), changed, note)

    def test_stopped_rehearsal_removes_its_scratch_folder(self):
        hanging = os.path.join(self.work, "hangs")
        with open(hanging, "w") as script:
            script.write("#!/bin/sh\nexec sleep 600\n")
        os.chmod(hanging, 0o755)
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            env = dict(os.environ, REHEARSE_PROGRAM=hanging, TMPDIR=self.scratch)
            rehearsal = subprocess.Popen(["python3", os.path.join(REPO, "scripts", "rehearse_run.py"),
                                          "--program", hanging, self.device],
                                         env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            deadline = time.monotonic() + 30
            while not os.listdir(self.scratch) and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(1)  # the copy made and the program started, as a rule
            rehearsal.send_signal(signal_number)
            rehearsal.communicate(timeout=30)
            self.assertNotEqual(rehearsal.returncode, 0)
            self.assertEqual(os.listdir(self.scratch), [], signal_number)

    def test_folder_missing_or_not_a_directory(self):
        for path, complaint in ((os.path.join(self.work, "absent"), "does not exist"),
                                (os.path.join(self.device, "registry.reg"), "is not a directory")):
            result = self.rehearse(device=path)
            self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
            self.assertIn(f"{path} {complaint}", result.stderr)
            self.assertNotIn("What the run changed", result.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    options, rest = parser.parse_known_args()
    PROGRAM = os.path.abspath(options.program)
    unittest.main(argv=[sys.argv[0]] + rest)
