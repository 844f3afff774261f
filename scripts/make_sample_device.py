#!/usr/bin/env python3
"""make_sample_device.py ROOT PROGRAM - lays out a sample device image.

The image is a device on which "ServicePack 1.13" has just been installed:
leftovers of an earlier pack in \\Temp\\ServicePackOld (among them an old
uninstaller and a read-only file), the cleanup program inside the pack
directory \\Temp\\ServicePack, and a registry.reg whose package key names the
pack's cabinet file.  ROOT must not exist yet.
"""
import os
import shutil
import stat
import sys

REGISTRY = """Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13]
"CabFile"="\\\\My Documents\\\\ZK4070 ServicePack 1.13.cab"
"Version"=dword:0000010d
"InstallDir"="\\\\Temp\\\\ServicePack"
"""


def write(root, device_path, content, read_only=False):
    path = os.path.join(root, *device_path.strip("\\").split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)
    if read_only:
        os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


def main():
    root, program = sys.argv[1], sys.argv[2]
    os.makedirs(root)
    write(root, r"\Temp\ServicePackOld\PatchUnInstall.exe", b"MZ uninstaller of ServicePack 1.12\n")
    write(root, r"\Temp\ServicePackOld\ServicePack 1.12.log", b"installed 1.12\n" * 40)
    write(root, r"\Temp\ServicePackOld\license.txt", b"kept: read-only\n", read_only=True)
    write(root, r"\Temp\ServicePackOld\Logs\install.log", b"subdirectories stay\n")
    setup = os.path.join(root, "Temp", "ServicePack", "Setup.exe")
    os.makedirs(os.path.dirname(setup))
    shutil.copy2(program, setup)
    write(root, r"\My Documents\ZK4070 ServicePack 1.13.cab", b"MSCF" + bytes(60))
    write(root, r"\My Documents\notes.txt", b"not the program's business\n")
    write(root, r"\Windows\ServicePack.ini", b"[ServicePack]\nVersion=1.13\n")
    with open(os.path.join(root, "registry.reg"), "wb") as out:
        out.write(b"\xff\xfe" + REGISTRY.replace("\n", "\r\n").encode("utf-16-le"))


if __name__ == "__main__":
    main()
