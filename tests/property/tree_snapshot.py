"""Exact snapshots of a directory tree, links never followed.

A snapshot maps each entry's path (a tuple of on-disk names below the top)
to what it is: ("dir", mode), ("file", mode, sha256 of the bytes, inode) or
("link", target).  Two snapshots compare equal entry for entry, except that
the inode of a file only identifies it (a moved file keeps it) and a
directory whose mode is None matches any mode (it was created by the run).
"""

import hashlib
import os
import stat


def describe(path):
    """The description of the entry at `path` (not followed if a link)."""
    info = os.lstat(path)
    if stat.S_ISLNK(info.st_mode):
        return ("link", os.readlink(path))
    if stat.S_ISDIR(info.st_mode):
        return ("dir", stat.S_IMODE(info.st_mode))
    if stat.S_ISREG(info.st_mode):
        digest = hashlib.sha256()
        with open(path, "rb") as handle:
            for block in iter(lambda: handle.read(1 << 16), b""):
                digest.update(block)
        return ("file", stat.S_IMODE(info.st_mode), digest.hexdigest(), info.st_ino)
    return ("other", stat.S_IFMT(info.st_mode))


def take(top):
    """The snapshot of everything below the directory `top`."""
    snapshot = {}
    pending = [()]
    while pending:
        relative = pending.pop()
        directory = os.path.join(top, *relative) if relative else top
        for name in os.listdir(directory):
            entry = relative + (name,)
            description = describe(os.path.join(directory, name))
            snapshot[entry] = description
            if description[0] == "dir":
                pending.append(entry)
    return snapshot


def same_entry(expected, actual):
    """Whether an actual description matches the expected one."""
    if expected is None or actual is None:
        return expected is None and actual is None
    if expected[0] != actual[0]:
        return False
    if expected[0] == "dir":
        return expected[1] is None or expected[1] == actual[1]
    if expected[0] == "file":
        return expected[1:3] == actual[1:3]
    return expected == actual


def show(path):
    """A readable form of a snapshot path."""
    return "/" + "/".join(ascii(name)[1:-1] for name in path)
