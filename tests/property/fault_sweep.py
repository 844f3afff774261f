#!/usr/bin/env python3
"""fault_sweep.py BINARY - the sample device's run with each system call of
the host layer, and each allocation, failing in turn.

BINARY (servicepack-cleanup-failing, failing_kernel.cpp) runs on fresh copies
of the sample device (scripts/make_sample_device.py) without standard input,
as on the device: undisturbed, then with the k-th use of each call failing
with each error its man page gives, for every k.  Each run must exit 0, leave
the sentinel beside the root as it was (bytes, inodes), leave no descriptor
open, report a refused change as failed and running out of descriptors as
such, and leave a tree the model (cleanup_model.py) gives with some changing
calls failed; a failure the layer can get past, the undisturbed tree.
"""

import concurrent.futures
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import make_sample_device  # noqa: E402  pylint: disable=wrong-import-position

# The layer's system-call table, in order, with each call's errors (man 2)
# among EACCES, EIO, EMFILE, ENOMEM, EINTR and EAGAIN, else the one a kernel
# gives: close_range before Linux 5.9, a directory removed under getdents64,
# Landlock disabled at boot, a ruleset the kernel cannot take or enforce.
E = errno
ERRORS = {
    "openat": (E.EACCES, E.EMFILE, E.ENOMEM, E.EINTR),
    "openat2": (E.EACCES, E.EMFILE, E.ENOMEM, E.EINTR, E.EAGAIN),
    "close": (E.EIO, E.EINTR), "close_range": (E.ENOSYS,),
    "fstatat": (E.EACCES, E.ENOMEM), "unlinkat": (E.EACCES, E.EIO, E.ENOMEM),
    "mkdirat": (E.EACCES, E.ENOMEM), "renameat2": (E.EACCES, E.ENOMEM),
    "getdents64": (E.ENOENT,), "read": (E.EIO, E.EINTR), "readlinkat": (E.EACCES, E.EIO, E.ENOMEM),
    "landlock_create_ruleset": (E.EOPNOTSUPP,), "landlock_add_rule": (E.EINVAL,),
    "landlock_restrict_self": (E.EPERM,), "set_no_new_privs": (E.EINVAL,),
    "operator new": (E.ENOMEM,),  # the k-th allocation
}
# Failures the run gets past: restarted calls, a close (the descriptor goes
# anyway), the executable's /proc look-up, the confinement.
RESTARTED = (E.EINTR, E.EAGAIN)
GOT_PAST = ("close", "close_range", "readlinkat", "landlock_create_ruleset",
            "landlock_add_rule", "landlock_restrict_self", "set_no_new_privs")
RESPELT = [("Temp/ServicePackOld", "Temp/servicepackOLD"), ("Temp", "TEMP"),
           ("My Documents/ZK4070 ServicePack 1.13.cab", "My Documents/zk4070 servicepack 1.13.cab"),
           ("My Documents", "MY DOCUMENTS"), ("registry.reg", "Registry.REG")]


class Sample:
    """A pristine sample device and the trees the model allows after a run."""

    def __init__(self, scratch, binary, respelt):
        self.scratch = scratch
        self.name = "names spelt otherwise" if respelt else "names as made"
        self.calm_trace = []  # the undisturbed run's trace lines
        self.pristine = os.path.join(scratch, self.name)
        subprocess.run([sys.executable, make_sample_device.__file__, self.pristine, binary],
                       check=True)
        for old, new in RESPELT if respelt else []:
            os.rename(os.path.join(self.pristine, old), os.path.join(self.pristine, new))
        before = tree_snapshot.take(self.pristine)
        self.exe = next(path for path in before if path[-1] == "Setup.exe")
        cabinet = re.search(r'"CabFile"="(.*)"', make_sample_device.REGISTRY).group(1)
        data = cabinet.replace("\\\\", "\\").encode("utf-16-le") + b"\0\0"
        inode = before[self.exe][3]
        model = lambda failing: cleanup_model.expect(before, self.exe, inode, data, failing)
        self.undisturbed = model(frozenset())
        calls = self.undisturbed.calls
        self.allowed = [model(frozenset(failing)) for n in range(len(calls) + 1)
                        for failing in itertools.combinations(calls, n)]

    def run(self, fail=None, landlock_abi=None, descriptors=None):
        """Runs the program on a fresh copy, with `fail` ((call, k, errno));
        returns (problems, uses by call, tree afterwards)."""
        base = tempfile.mkdtemp(dir=self.scratch)
        root, outside = os.path.join(base, "root"), os.path.join(base, "outside")
        shutil.copytree(self.pristine, root, symlinks=True, copy_function=os.link)
        property_test.make_outside(outside)
        sentinel = lambda: {p: (d, os.lstat(os.path.join(outside, *p)).st_ino)
                            for p, d in tree_snapshot.take(outside).items()}
        outside_before = sentinel()
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "COREDLL_TRACE": "1"}
        if fail:
            environment["FAIL"] = "%d %d %d" % (list(ERRORS).index(fail[0]), fail[1], fail[2])
        if landlock_abi is not None:
            environment["LANDLOCK_ABI"] = str(landlock_abi)
        def start():  # out of descriptors, or (as on the device) with fd 0 free
            if descriptors:
                resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
            else:
                os.close(0)

        finished = subprocess.run([os.path.join(root, *self.exe)], cwd=root, env=environment,
                                  capture_output=True, check=False, preexec_fn=start, timeout=20)
        report = finished.stdout.decode().splitlines() or ["0 uses"]
        problems = [line for line in report if line.startswith("descriptor ")]
        problems += ["exit status %d" % finished.returncode] if finished.returncode else []
        trace = finished.stderr.decode(errors="replace").splitlines() + [""]
        came = trace.index("failed here") + 1 if "failed here" in trace else 0
        problems += ["the failure never came"] if fail and not came else []
        if came and fail[0] in ("mkdirat", "unlinkat", "renameat2") and trace[came][-4:] == " = 1":
            problems.append("a refused change reported as done: " + trace[came])
        if not fail and not descriptors:
            self.calm_trace = trace
        elif (came and fail[0] == "openat2" and fail[2] == E.EMFILE
              and trace[came] != self.calm_trace[came - 1]
              and "(out of file descriptors)" not in trace[came]):
            problems.append("out of descriptors, and the trace does not say so: " + trace[came])
        problems += ["something outside the root changed"] if sentinel() != outside_before else []
        after = tree_snapshot.take(root)
        property_test.remove_tree(base)
        return problems, dict(zip(ERRORS, map(int, report[0].split()[:-1]))), after

    def check(self, after, exact):
        """How the tree differs from every outcome allowed (from the
        undisturbed one when `exact`); nothing when it is one."""
        differences = [property_test.compare(c, after)
                       for c in ([self.undisturbed] if exact else self.allowed)]
        return [] if [] in differences else min(differences, key=len)


def sweep(sample, landlock_abi):
    """The cases (sample, name, run's arguments, exact) of the undisturbed
    run and of every call's every use failing with each of its errors."""
    kernel = "%s, Landlock %s" % (sample.name, "ABI 1" if landlock_abi else "as the kernel has it")
    uses = sample.run(landlock_abi=landlock_abi)[1]
    cases = [(sample, "undisturbed, " + kernel, (None, landlock_abi), True)]
    for call, errors in ERRORS.items():
        cases += [(sample, "%s use %d failing with %s, %s" % (call, k, E.errorcode[e], kernel),
                   ((call, k, e), landlock_abi), e in RESTARTED or call in GOT_PAST)
                  for k in range(1, uses[call] + 1) for e in errors]
    return cases


def problems_of(case):
    """What went wrong in one case's run, as lines."""
    sample, name, arguments, exact = case
    problems, _, after = sample.run(*arguments)
    return ["%s: %s" % (name, p) for p in problems + sample.check(after, exact)]


def main():
    """Runs the sweep; exit status 1 when any run went wrong."""
    binary = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp(prefix="fault-sweep-", dir=property_test.scratch_parent())
    try:
        # As made, on the kernel's Landlock and on ABI 1; names spelt otherwise.
        made, respelt = Sample(scratch, binary, False), Sample(scratch, binary, True)
        cases = sweep(made, None) + sweep(made, 1) + sweep(respelt, 1)
        # Out of descriptors without Landlock: seven leave the undisturbed tree.
        cases += [(sample, "%s, no Landlock, %d descriptors" % (sample.name, limit),
                   (None, 0, limit), limit == 7)
                  for sample in (made, respelt) for limit in range(5, 8)]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            failures = [line for lines in pool.map(problems_of, cases) for line in lines]
    finally:
        property_test.remove_tree(scratch)
    print("".join("FAILED %s\n" % line for line in failures), end="")
    print("fault sweep: %d runs, %d failed" % (len(cases), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
