"""Randomized device trees on disk.

build_tree lays out one device root from a random.Random: the \\Temp chain
in any case, as directories, files, links or missing; old-pack entries of
every kind (files, read-only files, subdirectories, links that lead inside,
nowhere, in a loop or towards the outside); the running executable inside
the pack directory, the old-pack directory, elsewhere, at a path around the
259-character limit, or outside the root; and a registry export naming a
cabinet, or not.
"""

import os
import shutil

import device_names
import registry_file


class TreeBuilder:
    """Writes entries below one root and remembers what it wrote."""

    def __init__(self, rng, root, outside):
        self.rng = rng
        self.root = root
        self.outside = outside
        self.files = []
        self.directories = [()]

    def path(self, parts):
        """The absolute path of the entry `parts` below the root."""
        return os.path.join(self.root, *parts)

    def file(self, parts, read_only=None, content=None):
        """Writes a file (random bytes, read-only one time in four unless
        told) and remembers it."""
        if read_only is None:
            read_only = self.rng.random() < 0.25
        if content is None:
            content = os.urandom(self.rng.randint(0, 64))
        full = self.path(parts)
        with open(full, "wb") as handle:
            handle.write(content)
        os.chmod(full, 0o444 if read_only else 0o644)
        self.files.append(tuple(parts))

    def directory(self, parts):
        """Makes a directory and remembers it."""
        os.mkdir(self.path(parts))
        self.directories.append(tuple(parts))

    def link(self, parts, target):
        """Makes a symbolic link `parts` -> `target`."""
        os.symlink(target, self.path(parts))

    def random_link_target(self, depth):
        """A link target: inside the root, nowhere, a loop, or aimed at the
        outside (which the device root must contain)."""
        up = "../" * depth
        choice = self.rng.randrange(8)
        if choice == 0 and self.files:
            return "/" + "/".join(self.rng.choice(self.files))
        if choice == 1 and self.files:
            return up + "/".join(self.rng.choice(self.files))
        if choice == 2:
            return "/" + "/".join(self.rng.choice(self.directories))
        if choice == 3:
            return "nowhere-" + str(self.rng.randrange(100))
        if choice == 4:
            return up + "../../" + os.path.basename(self.outside) + "/canary"
        if choice == 5:
            return os.path.join(self.outside, "canary")
        if choice == 6:
            return "/"
        return "."

    def fill(self, parts, count, allow_odd=True):
        """Adds `count` random entries to the directory `parts`."""
        for _ in range(count):
            name = device_names.random_name(self.rng, allow_odd)
            entry = tuple(parts) + (name,)
            if os.path.lexists(self.path(entry)):
                continue
            roll = self.rng.random()
            if roll < 0.6:
                self.file(entry)
            elif roll < 0.8:
                self.directory(entry)
                if self.rng.random() < 0.6:
                    self.file(entry + ("inner.txt",))
            else:
                self.link(entry, self.random_link_target(len(parts)))


def variant(rng, name):
    """The name as written on disk: mostly exact, else in another case."""
    return name if rng.random() < 0.55 else device_names.case_variant(rng, name)


def build_chain(builder):
    """Lays out \\Temp, \\Temp\\ServicePackOld and \\Temp\\ServicePack.
    Returns the real paths of the old-pack and pack directories (None when
    they are not directories)."""
    rng = builder.rng
    builder.directory(("Other",))
    builder.directory(("Other", "Old"))
    builder.directory(("Other", "Pack"))
    builder.directory(("Elsewhere",))
    builder.fill(("Other",), rng.randint(0, 2), allow_odd=False)

    roll = rng.random()
    temp = variant(rng, "Temp")
    if roll < 0.78:
        builder.directory((temp,))
        if temp == "Temp" and rng.random() < 0.15:
            # A second, differently cased \Temp that the run must not use.
            decoy = device_names.other_case("Temp")
            builder.directory((decoy,))
            builder.directory((decoy, "ServicePack"))
            builder.file((decoy, "ServicePack", "decoy.txt"), read_only=False)
        temp_real = (temp,)
    elif roll < 0.83:
        builder.file((temp,), read_only=False)
        return None, None
    elif roll < 0.91:
        builder.link((temp,), rng.choice(["/Elsewhere", "Elsewhere", "../../Elsewhere"]))
        temp_real = ("Elsewhere",)
    elif roll < 0.94:
        builder.link((temp,), rng.choice(["nowhere", temp, "/Temp/x"]))
        return None, None
    else:
        return None, None

    old_pack = None
    roll = rng.random()
    name = variant(rng, "ServicePackOld")
    if roll < 0.66:
        builder.directory(temp_real + (name,))
        old_pack = temp_real + (name,)
    elif roll < 0.72:
        builder.file(temp_real + (name,), read_only=False)
    elif roll < 0.8:
        builder.link(temp_real + (name,), rng.choice(["/Other/Old", "../Other/Old"]))
        old_pack = ("Other", "Old")

    pack = None
    roll = rng.random()
    name = variant(rng, "ServicePack")
    if roll < 0.6:
        builder.directory(temp_real + (name,))
        pack = temp_real + (name,)
        if rng.random() < 0.4:
            builder.fill(pack, rng.randint(1, 3))
    elif roll < 0.65:
        builder.file(temp_real + (name,), read_only=False)
    elif roll < 0.7:
        builder.link(temp_real + (name,), "/Other/Pack")

    if rng.random() < 0.5:
        builder.fill(temp_real, rng.randint(1, 3))
    return old_pack, pack


def fill_old_pack(builder, old_pack):
    """Puts entries of every kind directly in the old-pack directory."""
    rng = builder.rng
    builder.fill(old_pack, rng.randint(0, 10))
    if rng.random() < 0.3:
        name = device_names.case_variant(rng, "PatchUnInstall.exe")
        if rng.random() < 0.2:
            builder.directory(old_pack + (name,))
        else:
            builder.file(old_pack + (name,))
    if rng.random() < 0.15:
        sub = "sub" + str(rng.randrange(10))
        if not os.path.lexists(builder.path(old_pack + (sub,))):
            builder.directory(old_pack + (sub,))
            builder.file(old_pack + (sub, "x"), read_only=False)
            builder.file(old_pack + (sub + "\\x",), read_only=False)
    if rng.random() < 0.1:
        # A name whose entry path climbs to another file of the root.
        named = [f for f in builder.files if all(device_names.is_valid_name(p) for p in f)]
        if named:
            target = rng.choice(named)
            name = "..\\" * rng.randint(2, 4) + "\\".join(target)
            if len(name.encode()) < 255 and not os.path.lexists(builder.path(old_pack + (name,))):
                builder.file(old_pack + (name,), read_only=False)
    if rng.random() < 0.05:
        builder.file(old_pack + (device_names.undecodable_name(rng),), read_only=False)


def place_exe(builder, exe_source, old_pack, pack, bin_dir):
    """Copies the program to its place.  Returns (path to run, real path
    inside the root as a tuple or None when outside)."""
    rng = builder.rng
    name = rng.choice(["setup.exe", "servicepack-cleanup", "PatchUnInstall.exe", "Ωmega.exe"])
    roll = rng.random()
    if roll < 0.35 and pack is not None:
        parts = pack + (name,)
    elif roll < 0.45 and old_pack is not None:
        parts = old_pack + (name,)
    elif roll < 0.55:
        parts = rng.choice([(name,), ("Elsewhere", name)])
    elif roll < 0.7:
        # \Deep\<one long directory>\s.exe, 255 to 262 characters long.
        length = rng.randint(255, 262)
        middle = "d" * (length - len("\\Deep\\") - len("\\s.exe"))
        if not os.path.lexists(builder.path(("Deep",))):
            builder.directory(("Deep",))
        builder.directory(("Deep", middle))
        parts = ("Deep", middle, "s.exe")
    else:
        target = os.path.join(bin_dir, name)
        shutil.copy2(exe_source, target)
        return target, None
    if os.path.lexists(builder.path(parts)):
        parts = parts[:-1] + ("run-" + parts[-1],)
    shutil.copy2(exe_source, builder.path(parts))
    os.chmod(builder.path(parts), 0o755)
    return builder.path(parts), tuple(parts)


def device_path_of(rng, parts):
    """A device path for the real path `parts`, in any case, with either
    separator, sometimes with "." components or a leading "..\\", and
    sometimes spelt to name it only on Windows CE (a final separator, a
    leading "\\/") or only on desktop Windows (a trailing dot or space,
    two leading separators)."""
    pieces = [device_names.case_variant(rng, part) for part in parts]
    if rng.random() < 0.15:
        pieces.insert(rng.randrange(len(pieces) + 1), ".")
    separator = "\\" if rng.random() < 0.8 else "/"
    text = separator.join(pieces)
    roll = rng.random()
    if roll < 0.8:
        text = "\\" + text
    elif roll < 0.9:
        text = "\\..\\..\\" + text
    if rng.random() < 0.15:
        text = rng.choice(["\\/", "\\\\", "//"]) + text.lstrip("\\/")
    if rng.random() < 0.15:
        text += rng.choice(["\\", "/", ".", " ", ". "])
    return text


def choose_cabinet(builder, exe_parts):
    """The device path to record as the cabinet (None: no value)."""
    rng = builder.rng
    roll = rng.random()
    if roll < 0.12:
        return None
    if roll < 0.35:
        # A cabinet whose device path is 60 to 66 characters long.
        length = rng.randint(60, 66)
        name = "c" * (length - len("\\Other\\") - 4) + ".cab"
        builder.file(("Other", name))
        return "\\Other\\" + name
    if roll < 0.45:
        # A short name for the dword and qword forms.
        name = "".join(rng.choice("ABCDEFGHabcdefgh") for _ in range(rng.randint(1, 2)))
        if not os.path.lexists(builder.path((name,))):
            builder.file((name,))
        return name if rng.random() < 0.5 else "\\" + name
    if roll < 0.5:
        return "\\Temp\\ServicePackOld\\PatchUnInstall.exe"
    if roll < 0.55:
        return rng.choice(["\\registry.reg", "\\", "\\Other", "\\nothing.cab", "\\Temp\\"])
    if roll < 0.6 and exe_parts is not None:
        return device_path_of(rng, exe_parts)
    candidates = [
        f
        for f in builder.files
        if len("\\".join(f)) < 70 and all(device_names.is_valid_name(part) for part in f)
    ]
    if not candidates:
        return "\\missing.cab"
    return device_path_of(rng, rng.choice(candidates))


def build_tree(rng, root, outside, bin_dir, exe_source):
    """Lays out one device tree below `root`.  Returns (path of the
    executable to run, its real path inside the root or None, the
    "CabFile" data the run will read or None)."""
    builder = TreeBuilder(rng, root, outside)
    builder.fill((), rng.randint(0, 3), allow_odd=False)
    for near in ["Temp2", "TempServicePack", "ServicePackOld", "Temp.bak"]:
        if rng.random() < 0.1:
            builder.file((near,))
    old_pack, pack = build_chain(builder)
    if old_pack is not None:
        fill_old_pack(builder, old_pack)
    exe_path, exe_parts = place_exe(builder, exe_source, old_pack, pack, bin_dir)
    cabinet = None
    if rng.random() < 0.9:
        cabinet = registry_file.write_registry(
            rng, os.path.join(root, "registry.reg"), choose_cabinet(builder, exe_parts)
        )
    return exe_path, exe_parts, cabinet
