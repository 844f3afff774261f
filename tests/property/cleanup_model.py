"""An independent model of what one cleanup run may change in a device tree.

Given the snapshot of a device root before the run, the running executable's
place in it and the recorded cabinet path, the model replays the run's five
steps on a virtual copy of the tree and yields the tree expected afterwards:

  1. every deletable entry directly in \\Temp\\ServicePackOld is gone (files
     that are not read-only and not the running executable; a link itself,
     never its target); subdirectories and everything in them stay.  An
     on-disk name holding "\\" (which the device cannot hold) stays, and so
     does what its entry path would name;
  2. \\Temp and \\Temp\\ServicePackOld exist where they could be created;
  3. the running executable, when inside the root and its device path fits
     259 characters, now is \\Temp\\ServicePackOld\\PatchUnInstall.exe unless
     that name was taken;
  4. an empty \\Temp\\ServicePack is gone, then an empty \\Temp;
  5. the recorded cabinet is gone when it named a file that is not read-only.

Names match ignoring case, an exact match first.  A device path is read by
Windows CE's canonicaliser (ce_paths.py, from CE's published source): "\\"
and "/" separate, "." is dropped, ".." drops the component before it, a
final separator is dropped, trailing dots and spaces stay, there are no DOS
device names, and a network path or one of 260 characters or more names
nothing; so does a path holding * ? " < > |.  A file is read-only when nobody
may write it.
Links are followed inside the root only: an absolute target starts at the
root and ".." stops there.
Where the device's rules leave an outcome open (a link whose target is a
directory or read-only, a name the device cannot spell), the entry is
"optional": it may stay as it was or be gone, nothing else.

Any call may fail, changing nothing: `failing` names the changing calls that
fail as (function, device path); the expectation lists those the run makes.
"""

import os
import sys

import device_names

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "differential"))
import ce_paths  # noqa: E402  pylint: disable=wrong-import-position

OLD_PACK = "\\Temp\\ServicePackOld"
PACK = "\\Temp\\ServicePack"
TEMP = "\\Temp"
RELOCATED_NAME = "PatchUnInstall.exe"
MODULE_PATH_LIMIT = 259
LINK_LIMIT = 40


class Undecidable(Exception):
    """The tree leaves the run's outcome open, so it is not used: two or more
    entries match a name ignoring case and none exactly (the device's choice
    between them is not fixed), or a later step depends on an optional
    entry."""


class VirtualTree:
    """A device tree held in memory: the snapshot's entries by path."""

    def __init__(self, snapshot, exe_inode, failing):
        self.entries = dict(snapshot)
        self.exe_inode = exe_inode
        self.failing = failing
        self.calls = []
        self.optional = set()
        self.children = {(): set()}
        for path, description in self.entries.items():
            if description[0] == "dir":
                self.children.setdefault(path, set())
        for path in self.entries:
            self.children.setdefault(path[:-1], set()).add(path[-1])

    # -- looking things up ------------------------------------------------

    def lookup(self, directory, name):
        """The on-disk name in `directory` that the device name `name`
        means: the exact name if present, else the one entry equal to it
        ignoring case; None when there is none."""
        names = self.children.get(directory, set())
        if name in names:
            found = name
        else:
            matches = [n for n in names if device_names.names_equal_ignoring_case(n, name)]
            if len(matches) > 1:
                raise Undecidable("ambiguous name " + ascii(name))
            found = matches[0] if matches else None
        if found is not None and directory + (found,) in self.optional:
            raise Undecidable("depends on optional entry " + ascii(found))
        return found

    def is_empty(self, directory):
        """Whether a directory holds nothing (its optional entries make the
        answer open)."""
        names = self.children.get(directory, set())
        if any(directory + (n,) in self.optional for n in names):
            raise Undecidable("emptiness depends on an optional entry")
        return not names

    def follow(self, path, depth=0):
        """The real path that the entry at `path` leads to, links followed
        inside the root; None when it leads nowhere (missing, a loop, a file
        used as a directory)."""
        description = self.entries.get(path)
        if description is None or depth > LINK_LIMIT:
            return None
        if depth > 0 and path in self.optional:
            raise Undecidable("a link leads to an optional entry")
        if description[0] != "link":
            return path
        target = description[1]
        current = () if target.startswith("/") else path[:-1]
        parts = [p for p in target.split("/") if p not in ("", ".")]
        for index, part in enumerate(parts):
            if part == "..":
                current = current[:-1]
                continue
            step = self.follow(current + (part,), depth + 1)
            if step is None:
                return None
            if index < len(parts) - 1 and self.entries.get(step, ("dir",))[0] != "dir":
                return None
            current = step
        return current

    def kind(self, path):
        """The kind of the entry at a real path ("dir", "file", "link",
        None when missing; the root is a directory)."""
        if path == ():
            return "dir"
        description = self.entries.get(path)
        return description[0] if description else None

    def resolve(self, path_text):
        """The (directory, on-disk name or None, given name) of a device
        path's last component, or None when the path names nothing or a
        parent is missing or not a directory.  The root itself is ((), None,
        "")."""
        parts = ce_paths.canonical(path_text)
        if parts is None or any(INVALID_NAME_CHARACTERS & set(p) for p in parts):
            return None
        if not parts:
            return ((), None, "")
        directory = ()
        for part in parts[:-1]:
            name = self.lookup(directory, part)
            if name is None:
                return None
            real = self.follow(directory + (name,))
            if real is None or self.kind(real) != "dir":
                return None
            directory = real
        return (directory, self.lookup(directory, parts[-1]), parts[-1])

    def resolve_directory(self, path_text):
        """The real path of the directory a device path names, or None."""
        found = self.resolve(path_text)
        if found is None:
            return None
        directory, name, given = found
        if not given:
            return directory
        if name is None:
            return None
        real = self.follow(directory + (name,))
        return real if real is not None and self.kind(real) == "dir" else None

    # -- changing things --------------------------------------------------

    def succeeds(self, function, path_text):
        """Whether the changing call `function`(`path_text`) does its work."""
        self.calls.append((function, path_text))
        return (function, path_text) not in self.failing

    def remove(self, path):
        """Removes an entry (a directory only when empty)."""
        del self.entries[path]
        self.children[path[:-1]].discard(path[-1])
        self.children.pop(path, None)

    def add_directory(self, path):
        """Adds a new directory, of any mode."""
        self.entries[path] = ("dir", None)
        self.children.setdefault(path[:-1], set()).add(path[-1])
        self.children[path] = set()

    def move(self, source, target):
        """Moves a file to a new path."""
        self.entries[target] = self.entries.pop(source)
        self.children[source[:-1]].discard(source[-1])
        self.children.setdefault(target[:-1], set()).add(target[-1])

    def is_exe(self, path):
        """Whether the entry at `path` is the running executable's file."""
        description = self.entries.get(path)
        return description is not None and description[0] == "file" and (
            description[3] == self.exe_inode
        )

    def is_read_only(self, path):
        """Whether nobody may write the entry at `path` (no write bit)."""
        return not self.entries[path][1] & 0o222


class Expectation:
    """The model's answer: the expected tree, the optional paths (each as it
    was or gone) and the run's notable events, for the statistics."""

    def __init__(self, tree, before, events):
        self.entries = tree.entries
        self.optional = {path: before[path] for path in tree.optional}
        self.events = events
        self.calls = tree.calls


# Characters no name may hold (shared with desktop Windows; Wine's rule).
INVALID_NAME_CHARACTERS = set('*?"<>|')


def delete_outcome(tree, path, attributes_first):
    """What a deletion of the entry at real path `path` does: "delete",
    "keep" or "optional".  With `attributes_first` the caller read the
    entry's attributes before deleting (the cabinet step)."""
    kind = tree.kind(path)
    if kind == "dir":
        return "keep"
    if kind == "file":
        if tree.is_exe(path) or tree.is_read_only(path):
            return "keep"
        return "delete"
    target = tree.follow(path)
    if target is None:
        return "optional" if attributes_first else "delete"
    if tree.kind(target) == "file" and not tree.is_exe(target) and not tree.is_read_only(target):
        return "delete"
    return "optional"


def apply_deletion(tree, path, outcome):
    """Carries out a deletion outcome on the virtual tree."""
    if outcome == "delete":
        tree.remove(path)
    elif outcome == "optional":
        tree.optional.add(path)


def empty_old_pack(tree, events):
    """Step 1: delete each deletable entry directly in the old-pack
    directory."""
    directory = tree.resolve_directory(OLD_PACK)
    if directory is None:
        return
    for name in sorted(tree.children.get(directory, set())):
        path = directory + (name,)
        if not device_names.is_valid_name(name):
            # No device name means this entry: it may be left or go.
            tree.optional.add(path)
            continue
        if "\\" in name:
            # An on-disk name holding the device's separator is no device
            # name: the run leaves it, and what its entry path would name.
            continue
        found = tree.resolve(OLD_PACK + "\\" + name)
        if not tree.succeeds("DeleteFileW", OLD_PACK + "\\" + name):
            continue
        if found is None or found[1] is None:
            # The entry path names nothing (the platform reads the name
            # otherwise, or refuses it): the entry stays.
            continue
        path = found[0] + (found[1],)
        if path not in tree.entries:
            # Already deleted through another entry path.
            continue
        outcome = delete_outcome(tree, path, attributes_first=False)
        if outcome == "delete":
            events.append("old-pack entry deleted")
        apply_deletion(tree, path, outcome)


def ensure_directory(tree, path_text, events):
    """Step 2, one call: the directory is created when its parent exists and
    nothing of its name (in any case) does."""
    found = tree.resolve(path_text)
    if found is None:
        return
    directory, name, given = found
    if name is None and given and tree.succeeds("CreateDirectoryW", path_text):
        tree.add_directory(directory + (given,))
        events.append("created " + given)


def relocate_exe(tree, exe_path, events):
    """Step 3: the executable at real path `exe_path` (None when outside
    the root) moves to the old-pack directory as PatchUnInstall.exe."""
    if exe_path is None:
        return
    device_path = "\\" + "\\".join(exe_path)
    if len(device_path.encode("utf-16-le")) // 2 > MODULE_PATH_LIMIT:
        events.append("executable path too long to move")
        return
    found = tree.resolve(OLD_PACK + "\\" + RELOCATED_NAME)
    if found is None:
        return
    directory, name, given = found
    if name is not None or not tree.succeeds("MoveFileW", device_path):
        return
    tree.move(exe_path, directory + (given,))
    events.append("executable relocated")


def remove_if_empty(tree, path_text, events):
    """Step 4, one call: the directory goes when it is a real, empty
    directory (a link to one stays)."""
    found = tree.resolve(path_text)
    if found is None or found[1] is None:
        return
    path = found[0] + (found[1],)
    if tree.kind(path) == "dir" and tree.is_empty(path) and (
        tree.succeeds("RemoveDirectoryW", path_text)
    ):
        tree.remove(path)
        events.append("removed " + found[2])


def cabinet_path(data):
    """The cabinet's device path from the value's data: at most 128 bytes
    (more and the read fails: None), its whole characters up to the first
    NUL; None when it holds an unpaired surrogate."""
    if data is None or len(data) > 128:
        return None
    units = [data[i] | (data[i + 1] << 8) for i in range(0, len(data) - 1, 2)]
    if 0 in units:
        units = units[: units.index(0)]
    raw = b"".join(unit.to_bytes(2, "little") for unit in units)
    try:
        return raw.decode("utf-16-le", errors="strict")
    except UnicodeDecodeError:
        return None


def remove_cabinet(tree, data, events):
    """Step 5: delete the file the cabinet value names, unless read-only."""
    path_text = cabinet_path(data)
    if path_text is None:
        return
    found = tree.resolve(path_text)
    if found is None or found[1] is None:
        return
    path = found[0] + (found[1],)
    if not tree.succeeds("DeleteFileW", path_text):
        return
    outcome = delete_outcome(tree, path, attributes_first=True)
    if outcome == "delete":
        events.append("cabinet deleted")
    apply_deletion(tree, path, outcome)


def expect(snapshot, exe_path, exe_inode, cabinet_data, failing=frozenset()):
    """The expectation for one run on the tree `snapshot`, with the
    executable at real path `exe_path` (None: outside the root), the
    "CabFile" data `cabinet_data` (None: no such value) and the changing
    calls `failing` failing."""
    tree = VirtualTree(snapshot, exe_inode, failing)
    events = []
    empty_old_pack(tree, events)
    ensure_directory(tree, TEMP, events)
    ensure_directory(tree, OLD_PACK, events)
    relocate_exe(tree, exe_path, events)
    remove_if_empty(tree, PACK, events)
    remove_if_empty(tree, TEMP, events)
    remove_cabinet(tree, cabinet_data, events)
    return Expectation(tree, snapshot, events)
