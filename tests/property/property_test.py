#!/usr/bin/env python3
"""Property test: one cleanup run changes exactly what it may, on thousands
of randomized device trees.

For each tree (seeded, reproducible): lay it out in a fresh temporary
directory beside an "outside" directory of canaries, snapshot both, run the
program with the tree as its device root, snapshot again, and compare the
root with the independent model's expected tree and the outside with its
snapshot.  Any difference fails the test and prints the seed that rebuilds
the tree:

    property_test.py --binary build/servicepack-cleanup --trees 1 --seed S

Trees whose outcome the device's rules leave open are replaced by the next
seed and counted as skipped.
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
from collections import Counter

import cleanup_model
import device_tree
import tree_snapshot

RUN_TIMEOUT_SECONDS = 20
TRACE_LINES = 60


def scratch_parent():
    """Where the trees are laid out: $PROPERTY_TMPDIR, else memory-backed
    /dev/shm when usable (thousands of small trees), else the system's
    temporary directory."""
    chosen = os.environ.get("PROPERTY_TMPDIR")
    if chosen:
        return chosen
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK | os.X_OK):
        return "/dev/shm"
    return None


def make_outside(outside):
    """Canaries laid out like the device's own directories."""
    os.makedirs(os.path.join(outside, "Temp", "ServicePackOld"))
    os.makedirs(os.path.join(outside, "Temp", "ServicePack"))
    os.makedirs(os.path.join(outside, "ServicePackOld"))
    for relative in ["canary", "Temp/ServicePackOld/victim.txt", "ServicePackOld/victim.txt"]:
        with open(os.path.join(outside, relative), "wb") as handle:
            handle.write(b"canary " + relative.encode())


def remove_tree(path):
    """Removes a test directory; read-only files and odd names included."""
    shutil.rmtree(path, ignore_errors=True)


def compare(expectation, after):
    """The differences between the expected and the actual tree, as lines."""
    problems = []
    for path in sorted(set(expectation.entries) | set(after) | set(expectation.optional), key=repr):
        actual = after.get(path)
        if path in expectation.optional:
            if actual is not None and not tree_snapshot.same_entry(
                expectation.optional[path], actual
            ):
                problems.append("optional entry changed: %s" % tree_snapshot.show(path))
            continue
        wanted = expectation.entries.get(path)
        if not tree_snapshot.same_entry(wanted, actual):
            problems.append(
                "%s: expected %s, found %s"
                % (tree_snapshot.show(path), describe(wanted), describe(actual))
            )
    return problems


def describe(entry):
    """A short readable form of a snapshot entry (None: nothing)."""
    if entry is None:
        return "nothing"
    if entry[0] == "file":
        return "file mode %o" % entry[1]
    if entry[0] == "dir":
        return "directory"
    return "%s %s" % entry[:2]


def run_one(binary, seed, statistics):
    """Builds, runs and checks the tree of `seed`.  Returns a list of
    problems (empty when the run did exactly what it may), or None when the
    tree was not usable."""
    rng = random.Random(seed)
    base = tempfile.mkdtemp(prefix="property-tree-", dir=scratch_parent())
    try:
        root = os.path.join(base, "root")
        outside = os.path.join(base, "outside")
        bin_dir = os.path.join(base, "bin")
        os.mkdir(root)
        os.mkdir(bin_dir)
        make_outside(outside)
        exe_path, exe_parts, cabinet = device_tree.build_tree(
            rng, root, outside, bin_dir, binary
        )
        before = tree_snapshot.take(root)
        outside_before = tree_snapshot.take(base)
        exe_inode = os.stat(exe_path).st_ino
        try:
            expectation = cleanup_model.expect(before, exe_parts, exe_inode, cabinet)
        except cleanup_model.Undecidable:
            return None

        # The platform calls are traced to stderr, shown when the tree fails.
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "COREDLL_TRACE": "1"}
        try:
            finished = subprocess.run(
                [exe_path],
                cwd=root,
                env=environment,
                stdin=subprocess.DEVNULL,
                capture_output=True,
                timeout=RUN_TIMEOUT_SECONDS,
            )
        except subprocess.TimeoutExpired:
            return ["the run did not end within %d s" % RUN_TIMEOUT_SECONDS]

        problems = []
        if finished.returncode != 0:
            problems.append("exit status %d" % finished.returncode)
        after = tree_snapshot.take(root)
        problems += compare(expectation, after)
        outside_after = {p: d for p, d in tree_snapshot.take(base).items() if p[0] != "root"}
        outside_expected = {p: d for p, d in outside_before.items() if p[0] != "root"}
        if outside_after != outside_expected:
            problems.append("something outside the root changed")
        if problems:
            trace = finished.stderr.decode(errors="replace").splitlines()
            problems.append("platform calls (last %d):" % min(len(trace), TRACE_LINES))
            problems += ["  " + line for line in trace[-TRACE_LINES:]]
        statistics.update(expectation.events)
        return problems
    finally:
        remove_tree(base)


def main():
    """Runs the trees the command line asks for; exit status 1 when any
    failed."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True, help="the built servicepack-cleanup")
    parser.add_argument("--trees", type=int, default=300, help="trees to try")
    parser.add_argument("--seed", type=int, default=1, help="seed of the first tree")
    arguments = parser.parse_args()
    binary = os.path.abspath(arguments.binary)

    statistics = Counter()
    tried = skipped = failed = 0
    seed = arguments.seed
    while tried < arguments.trees:
        problems = run_one(binary, seed, statistics)
        if problems is None:
            skipped += 1
        else:
            tried += 1
            if problems:
                failed += 1
                print("FAILED seed %d:" % seed)
                for line in problems:
                    print("    " + line)
        seed += 1

    print(
        "property: %d trees tried (seeds %d..%d), %d skipped as undecidable, %d failed"
        % (tried, arguments.seed, seed - 1, skipped, failed)
    )
    for event, count in sorted(statistics.items()):
        print("    %6d x %s" % (count, event))
    print("%d passed, %d failed" % (tried - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
