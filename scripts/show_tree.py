#!/usr/bin/env python3
"""show_tree.py ROOT - prints a device image as a readable tree.

Each entry shows its name, then a file's size and "read-only" when its owner
write bit is clear; a symbolic link shows its target and is not followed.
"""
import os
import stat
import sys


def describe(path, name):
    info = os.lstat(path)
    if stat.S_ISLNK(info.st_mode):
        return f"{name} -> {os.readlink(path)}"
    if stat.S_ISDIR(info.st_mode):
        return f"{name}\\"
    flags = "" if info.st_mode & stat.S_IWUSR else ", read-only"
    return f"{name}  ({info.st_size} bytes{flags})"


def show(directory, indent):
    names = sorted(os.listdir(directory), key=str.lower)
    for position, name in enumerate(names):
        path = os.path.join(directory, name)
        last = position == len(names) - 1
        print(indent + ("`-- " if last else "|-- ") + describe(path, name))
        if os.path.isdir(path) and not os.path.islink(path):
            show(path, indent + ("    " if last else "|   "))


def main():
    root = sys.argv[1]
    print("\\  (" + os.path.abspath(root) + ")")
    show(root, "")


if __name__ == "__main__":
    main()
