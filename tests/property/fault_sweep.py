#!/usr/bin/env python3
"""Fault sweep: the sample device's run with each system call of the host
layer failing in turn.

The program built with failing_kernel.cpp runs on a fresh sample device
(scripts/make_sample_device.py) once undisturbed, which counts each call's
uses, then once for every call, every k up to its uses and every error the
kernel gives there (its man page's), with the k-th use failing.  Each run
must exit 0, leave the sentinel tree beside the root as it was, byte for
byte and inode for inode, leave no descriptor open, and leave a tree the
platform allows: the model's (cleanup_model.py) with some of the run's
changing calls failed.  A failure the layer can get past must leave exactly
the undisturbed run's tree: an interrupted or raced call is restarted, a
close releases its descriptor anyway, and a run without Landlock or without
/proc ends as any other.  The whole sweep runs on the kernel as it is and
again without Landlock; without Landlock and with seven descriptors the run
must also end as the undisturbed one.

    fault_sweep.py --binary build/servicepack-cleanup-failing
"""

import argparse
import errno
import itertools
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

import cleanup_model
import property_test
import tree_snapshot

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))
import make_sample_device  # noqa: E402  pylint: disable=wrong-import-position

# Each call's errors (man 2 <call>) among EACCES, EIO, EMFILE, ENOMEM and
# the restartable EINTR and EAGAIN; where none applies, the one a kernel
# really gives: close_range before Linux 5.9 (ENOSYS), a directory removed
# under getdents64 (ENOENT), Landlock disabled at boot (EOPNOTSUPP), a
# ruleset the kernel cannot take or enforce (EINVAL, EPERM).
ERRORS = {
    "openat": (errno.EACCES, errno.EMFILE, errno.ENOMEM, errno.EINTR),
    "openat2": (errno.EACCES, errno.EMFILE, errno.ENOMEM, errno.EINTR, errno.EAGAIN),
    "close": (errno.EIO, errno.EINTR),
    "close_range": (errno.ENOSYS,),
    "fstatat": (errno.EACCES, errno.ENOMEM),
    "unlinkat": (errno.EACCES, errno.EIO, errno.ENOMEM),
    "mkdirat": (errno.EACCES, errno.ENOMEM),
    "renameat2": (errno.EACCES, errno.ENOMEM),
    "getdents64": (errno.ENOENT,),
    "read": (errno.EIO, errno.EINTR),
    "readlinkat": (errno.EACCES, errno.EIO, errno.ENOMEM),
    "landlock_create_ruleset": (errno.EOPNOTSUPP,),
    "landlock_add_rule": (errno.EINVAL,),
    "landlock_restrict_self": (errno.EPERM,),
    "set_no_new_privs": (errno.EINVAL,),
}
RESTARTED = (errno.EINTR, errno.EAGAIN)
# Calls whose failure the run gets past: releasing, the /proc look-up of the
# executable (its start-up path stands in) and the confinement.
GOT_PAST = ("close", "close_range", "readlinkat", "landlock_create_ruleset",
            "landlock_add_rule", "landlock_restrict_self", "set_no_new_privs")
EXE = ("Temp", "ServicePack", "Setup.exe")


class Sample:
    """The pristine sample device and what the model allows of a run on it."""

    def __init__(self, scratch, binary):
        self.scratch = scratch
        self.pristine = os.path.join(scratch, "pristine")
        subprocess.run([sys.executable, make_sample_device.__file__, self.pristine, binary],
                       check=True)
        before = tree_snapshot.take(self.pristine)
        cabinet = re.search(r'"CabFile"="(.*)"', make_sample_device.REGISTRY).group(1)
        data = cabinet.replace("\\\\", "\\").encode("utf-16-le") + b"\0\0"
        exe_inode = before[EXE][3]

        def model(failing):
            return cleanup_model.expect(before, EXE, exe_inode, data, frozenset(failing))

        self.undisturbed = model(())
        calls = self.undisturbed.calls
        self.allowed = [model(failing) for n in range(len(calls) + 1)
                        for failing in itertools.combinations(calls, n)]
        self.runs = 0

    def run(self, fail=None, no_landlock=False, descriptors=None):
        """Runs the program on a fresh copy with `fail` ((call, k, errno))
        and returns (problems, uses, tree afterwards)."""
        self.runs += 1
        base = os.path.join(self.scratch, "run%d" % self.runs)
        root = os.path.join(base, "root")
        shutil.copytree(self.pristine, root, symlinks=True)
        property_test.make_outside(os.path.join(base, "outside"))
        outside_before = tree_snapshot.take(os.path.join(base, "outside"))
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        if fail:
            environment["FAIL"] = "%s %d %d" % fail
        if no_landlock:
            environment["NO_LANDLOCK"] = "1"

        def limit():
            if descriptors:
                resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))

        finished = subprocess.run([os.path.join(root, *EXE)], cwd=root, env=environment,
                                  stdin=subprocess.DEVNULL, capture_output=True,
                                  preexec_fn=limit, timeout=20, check=False)
        report = finished.stdout.decode(errors="replace").splitlines()
        problems = [line for line in report if line.startswith("descriptor ")]
        if finished.returncode != 0:
            problems.append("exit status %d" % finished.returncode)
        if fail and "fired 1" not in report:
            problems.append("the failure never came")
        if tree_snapshot.take(os.path.join(base, "outside")) != outside_before:
            problems.append("something outside the root changed")
        uses = {l.split()[1]: int(l.split()[2]) for l in report if l.startswith("uses ")}
        after = tree_snapshot.take(root)
        property_test.remove_tree(base)
        return problems, uses, after

    def check(self, after, exact):
        """The tree's differences from every outcome allowed (the
        undisturbed one alone when `exact`); empty when it is one."""
        candidates = [self.undisturbed] if exact else self.allowed
        differences = [property_test.compare(c, after) for c in candidates]
        return [] if [] in differences else min(differences, key=len)


def sweep(sample, no_landlock):
    """Every call's every use failing with each of its errors; the lines
    of what went wrong."""
    kernel = "without Landlock" if no_landlock else "with the kernel's Landlock"
    problems, uses, after = sample.run(no_landlock=no_landlock)
    failures = ["undisturbed, %s: %s" % (kernel, p) for p in problems + sample.check(after, True)]
    cases = 0
    for call, errors in ERRORS.items():
        for k in range(1, uses.get(call, 0) + 1):
            for error in errors:
                cases += 1
                problems, _, after = sample.run((call, k, error), no_landlock)
                exact = error in RESTARTED or call in GOT_PAST
                problems += sample.check(after, exact)
                failures += ["%s use %d failing with %s, %s: %s"
                             % (call, k, errno.errorcode[error], kernel, p) for p in problems]
    print("%s: %d runs, each call failing at each use" % (kernel, cases))
    return failures


def main():
    """Runs the sweep; exit status 1 when any run went wrong."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True, help="the built servicepack-cleanup-failing")
    binary = os.path.abspath(parser.parse_args().binary)
    scratch = tempfile.mkdtemp(prefix="fault-sweep-", dir=property_test.scratch_parent())
    try:
        sample = Sample(scratch, binary)
        failures = sweep(sample, False) + sweep(sample, True)
        problems, _, after = sample.run(no_landlock=True, descriptors=7)
        failures += ["seven descriptors without Landlock: " + p
                     for p in problems + sample.check(after, True)]
    finally:
        property_test.remove_tree(scratch)
    for line in failures:
        print("FAILED " + line)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
