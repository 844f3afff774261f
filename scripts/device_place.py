"""device_place.py - where a device path lies in a copy of a device's files.

Each name of the path is matched ignoring case, as on the device: an entry of
exactly that name is taken first, otherwise the one entry that equals it
ignoring case.  Missing directories are created.  The path never leaves the
copy: "." and ".." are refused, and so is a symbolic link on the way.
"""
import os
import stat


class PlaceError(Exception):
    pass


def parse_device_path(text):
    """The names of a device path such as "\\Temp\\ServicePack\\Setup.exe"
    ("/" separates names too).  Raises PlaceError for a path that is not
    absolute or that names no file."""
    if not text.startswith(("\\", "/")):
        raise PlaceError(f'"{text}" is not a device path: it must start with "\\" (e.g. "\\Temp\\ServicePack\\Setup.exe")')
    names = [name for name in text.replace("/", "\\").split("\\") if name]
    if not names:
        raise PlaceError(f'"{text}" names the device root, not a file')
    for name in names:
        if name in (".", ".."):
            raise PlaceError(f'"{text}" holds "{name}": give the path without it')
    return names


def _match(directory, name, shown):
    """The on-disk name in directory that the device name names, or None."""
    if os.path.lexists(os.path.join(directory, name)):
        return name
    folded = name.lower()
    found = [entry for entry in os.listdir(directory) if entry.lower() == folded]
    if len(found) > 1:
        raise PlaceError(f'"{name}" matches {len(found)} entries of {shown or chr(92)} ignoring case: '
                         + ", ".join(sorted(found)))
    return found[0] if found else None


def locate(root, names):
    """The host path of the device file `names` under root, and the
    directories created on the way (device paths); the file itself may or
    may not exist."""
    directory, shown, created = root, "", []
    for name in names[:-1]:
        found = _match(directory, name, shown)
        directory = os.path.join(directory, found or name)
        shown += "\\" + (found or name)
        if found is None:
            os.mkdir(directory)
            created.append(shown)
            continue
        mode = os.lstat(directory).st_mode
        if stat.S_ISLNK(mode):
            raise PlaceError(f"{shown} is a symbolic link: the program is not placed through one")
        if not stat.S_ISDIR(mode):
            raise PlaceError(f"{shown} is not a directory")
    found = _match(directory, names[-1], shown)
    path = os.path.join(directory, found or names[-1])
    if found is not None and not stat.S_ISREG(os.lstat(path).st_mode):
        raise PlaceError(f"{shown}\\{found} exists and is not a plain file")
    return path, created
