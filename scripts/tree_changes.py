"""tree_changes.py - what a run changed in a device tree, told by identity.

A snapshot records every entry under a root (symbolic links are not
followed) with its file identity (device and inode number).  Comparing two
snapshots tells a moved file from a deleted one and a new one by that
identity, not by names: an entry whose inode shows up under another path
was moved.
"""
import os
import stat


def _kind(mode):
    if stat.S_ISDIR(mode):
        return "directory"
    if stat.S_ISLNK(mode):
        return "link"
    if stat.S_ISREG(mode):
        return "file"
    return "special"


def snapshot(root):
    """Maps each path under root (a tuple of names) to what identifies it
    and what a run could change about it."""
    entries = {}
    pending = [()]
    while pending:
        parts = pending.pop()
        with os.scandir(os.path.join(root, *parts) if parts else root) as listing:
            for item in listing:
                info = item.stat(follow_symlinks=False)
                path = parts + (item.name,)
                kind = _kind(info.st_mode)
                entries[path] = {
                    "id": (info.st_dev, info.st_ino, kind),
                    "kind": kind,
                    "mode": stat.S_IMODE(info.st_mode),
                    "size": info.st_size if kind != "directory" else 0,
                    "mtime": info.st_mtime_ns if kind != "directory" else 0,
                    "target": os.readlink(item.path) if kind == "link" else None,
                }
                if kind == "directory":
                    pending.append(path)
    return entries


def _by_identity(entries):
    paths = {}
    for path, entry in entries.items():
        paths.setdefault(entry["id"], set()).add(path)
    return paths


def _order(path):
    return [name.lower() for name in path]


def changes(before, after):
    """The differences between two snapshots as (kind, path, new_path)
    tuples, in the order: deleted, moved, directories created, directories
    removed, then anything else (created, changed).  new_path is None except
    for moves; the entries of a moved directory are listed as moved too."""
    old_ids = _by_identity(before)
    new_ids = _by_identity(after)
    moved, gone, came = [], [], []
    for identity, old_paths in old_ids.items():
        new_paths = new_ids.get(identity, set())
        left = sorted(old_paths - new_paths, key=_order)
        arrived = sorted(new_paths - old_paths, key=_order)
        for source, target in zip(left, arrived):
            moved.append((source, target))
        gone.extend(left[len(arrived):])
        came.extend(arrived[len(left):])
    for identity, new_paths in new_ids.items():
        if identity not in old_ids:
            came.extend(new_paths)

    result = []
    for path in sorted(gone, key=_order):
        kind = "removed directory" if before[path]["kind"] == "directory" else "deleted"
        result.append((kind, path, None))
    for source, target in sorted(moved, key=lambda pair: _order(pair[0])):
        kind = "moved directory" if before[source]["kind"] == "directory" else "moved"
        result.append((kind, source, target))
    for path in sorted(came, key=_order):
        kind = "created directory" if after[path]["kind"] == "directory" else "created"
        result.append((kind, path, None))
    result.sort(key=lambda change: _RANK[change[0]])
    for path in sorted(set(before) & set(after), key=_order):
        old, new = before[path], after[path]
        if old["id"] == new["id"] and any(old[key] != new[key] for key in ("mode", "size", "mtime", "target")):
            result.append(("changed", path, None))
    return result


_RANK = {
    "deleted": 0,
    "moved": 1,
    "moved directory": 1,
    "created directory": 2,
    "removed directory": 3,
    "created": 4,
}


def device_path(path):
    """A snapshot path as the device names it: "\\Temp\\a.txt".  Characters
    a terminal would not show plainly are escaped."""
    text = "\\" + "\\".join(path)
    return "".join(char if char.isprintable() else "\\x%02x" % (ord(char) & 0xFF) for char in text)
