"""Device trees on disk: making a scenario's initial tree, listing a tree
after a run, and telling how a listing differs from the expected one.

A listing maps each path ("\\Temp\\x", or "@outside\\x" for the directory
beside the device root) to a tuple (kind, content, read_only, target):
kind is "dir", "file" or "symlink"; a file whose bytes are the program's is
listed with content PROGRAM.  Read-only means no write bit at all, which is
what both builds take as the read-only attribute.  Listing never follows a
symbolic link.
"""

import os
import stat

from scenario_file import OUTSIDE_PREFIX

PROGRAM = "<program>"
BACKSLASH_IN_NAME = "{bs}"
WRITE_BITS = stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH


def disk_path(entry_path, root, outside):
    """The on-disk path of a scenario path under `root` or `outside`.  "{bs}"
    in a component is a backslash that is part of the on-disk name."""
    if entry_path.startswith(OUTSIDE_PREFIX):
        base, rest = outside, entry_path[len(OUTSIDE_PREFIX) :]
    else:
        base, rest = root, entry_path
    parts = [part.replace(BACKSLASH_IN_NAME, "\\") for part in rest.split("\\") if part]
    return os.path.join(base, *parts)


def make_tree(entries, root, outside=None):
    """Creates `entries` (a scenario's "before") under `root` and `outside`.
    Parents are made as needed; a file with a mode gets it (read-only files
    have no write bit)."""
    for entry in entries:
        path = disk_path(entry.path, root, outside)
        if entry.kind == "dir":
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if entry.kind == "symlink":
            os.symlink(entry.target.replace("{outside}", outside or ""), path)
            continue
        with open(path, "wb") as handle:
            handle.write(entry.content)
        if entry.mode is not None:
            os.chmod(path, entry.mode)


def expected_listing(entries):
    """The listing that a scenario's "after" entries describe."""
    listing = {}
    for entry in entries:
        if entry.kind == "program":
            listing[entry.path] = ("file", PROGRAM, False, "")
        elif entry.kind == "file":
            listing[entry.path] = ("file", entry.content, entry.read_only, "")
        elif entry.kind == "symlink":
            listing[entry.path] = ("symlink", b"", False, entry.target)
        else:
            listing[entry.path] = ("dir", b"", False, "")
    return listing


def list_tree(base, prefix, program_bytes, skip_top=(), outside=None):
    """Lists everything under `base`, paths starting with `prefix` ("\\" for
    the device root).  Top-level names in `skip_top` (compared ignoring
    case) are left out.  Symbolic links are listed, never followed; the
    `outside` directory's path in a link's target is written "{outside}"."""
    listing = {}
    skipped = {name.lower() for name in skip_top}
    pending = [(base, prefix, True)]
    while pending:
        directory, device_dir, top = pending.pop()
        with os.scandir(directory) as entries:
            for entry in entries:
                if top and entry.name.lower() in skipped:
                    continue
                device_path = device_dir + entry.name.replace("\\", BACKSLASH_IN_NAME)
                info = entry.stat(follow_symlinks=False)
                read_only = (info.st_mode & WRITE_BITS) == 0
                if stat.S_ISLNK(info.st_mode):
                    target = os.readlink(entry.path)
                    if outside:
                        target = target.replace(outside, "{outside}")
                    listing[device_path] = ("symlink", b"", False, target)
                elif stat.S_ISDIR(info.st_mode):
                    listing[device_path] = ("dir", b"", False, "")
                    pending.append((entry.path, device_path + "\\", False))
                else:
                    with open(entry.path, "rb") as handle:
                        content = handle.read()
                    if content == program_bytes:
                        content = PROGRAM
                    listing[device_path] = ("file", content, read_only, "")
    return listing


def describe(item):
    """A short human-readable form of one listing item."""
    kind, content, read_only, target = item
    if kind == "symlink":
        return f"symlink -> {target}"
    if kind == "dir":
        return "dir"
    flag = " (read-only)" if read_only else ""
    if content == PROGRAM:
        return f"program{flag}"
    try:
        text = content.decode("utf-8")
        shown = repr(text if len(text) <= 40 else text[:40] + "...")
    except UnicodeDecodeError:
        shown = f"{len(content)} bytes"
    return f"file {shown}{flag}"


def short_path(path, limit=90):
    """`path` cut in the middle when longer than `limit` characters."""
    if len(path) <= limit:
        return path
    return f"{path[:40]}...({len(path)} chars)...{path[-40:]}"


def differences(expected, actual):
    """Lines that describe how listing `actual` differs from `expected`;
    empty when they are the same."""
    lines = []
    for path in sorted(set(expected) | set(actual)):
        want, got = expected.get(path), actual.get(path)
        if want == got:
            continue
        if got is None:
            lines.append(f"missing    {short_path(path)}: {describe(want)}")
        elif want is None:
            lines.append(f"unexpected {short_path(path)}: {describe(got)}")
        else:
            lines.append(
                f"differs    {short_path(path)}: expected {describe(want)}, got {describe(got)}"
            )
    return lines


def remove_tree(path):
    """Removes `path` and everything under it without following symbolic
    links, restoring write bits where a removal needs them."""
    if os.path.islink(path) or not os.path.isdir(path):
        os.unlink(path)
        return
    for directory, _, files in os.walk(path):
        os.chmod(directory, 0o755)
        for name in files:
            file_path = os.path.join(directory, name)
            if not os.path.islink(file_path):
                os.chmod(file_path, 0o644)
    for directory, subdirectories, files in os.walk(path, topdown=False):
        for name in files:
            os.unlink(os.path.join(directory, name))
        for name in subdirectories:
            sub = os.path.join(directory, name)
            if os.path.islink(sub):
                os.unlink(sub)
            else:
                os.rmdir(sub)
    os.rmdir(path)
