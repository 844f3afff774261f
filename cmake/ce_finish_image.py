#!/usr/bin/python3
"""Makes lld's ARM image a Windows CE program, with python3-pefile.

    ce_finish_image.py --machine 0x1C2|0x1C4 --subsystem-version 5.0 IMAGE.exe

lld refuses /subsystem:windowsce and writes every ARM image as ARMNT; this
sets, in place: the subsystem to WINDOWS_CE_GUI (9), the subsystem and
operating system versions, the machine field (THUMB 0x1C2 or ARMNT 0x1C4),
and then the checksum over the finished image.  Run it with /usr/bin/python3:
Debian's pefile is seen only by the system interpreter.
"""

import argparse
import sys

import pefile

IMAGE_SUBSYSTEM_WINDOWS_CE_GUI = 9
MACHINES = {0x1C2: "THUMB", 0x1C4: "ARMNT"}


def finish(path, machine, major, minor):
    """Rewrites the image's header fields and checksum; returns an error
    message, or None."""
    image = pefile.PE(path)
    try:
        if image.FILE_HEADER.Machine != 0x1C4:
            return f"{path}: not an ARM image from lld (machine {image.FILE_HEADER.Machine:#x})"
        image.FILE_HEADER.Machine = machine
        header = image.OPTIONAL_HEADER
        header.Subsystem = IMAGE_SUBSYSTEM_WINDOWS_CE_GUI
        header.MajorSubsystemVersion = major
        header.MinorSubsystemVersion = minor
        header.MajorOperatingSystemVersion = major
        header.MinorOperatingSystemVersion = minor
        header.CheckSum = image.generate_checksum()
        data = image.write()
    finally:
        image.close()
    with open(path, "wb") as output:
        output.write(data)
    return None


def version(text):
    """'5.0' -> (5, 0); minor 2 in '4.2' stays 2 (the linker's 4.02)."""
    major, _, minor = text.partition(".")
    return int(major), int(minor or 0)


def main():
    """Finishes the image named on the command line."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--machine", required=True, type=lambda text: int(text, 0))
    parser.add_argument("--subsystem-version", required=True, type=version)
    parser.add_argument("image")
    arguments = parser.parse_args()
    if arguments.machine not in MACHINES:
        parser.error(f"machine {arguments.machine:#x} is neither THUMB nor ARMNT")
    problem = finish(arguments.image, arguments.machine, *arguments.subsystem_version)
    if problem:
        print(f"ce_finish_image.py: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
