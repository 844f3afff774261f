"""A small ARM program made into a device executable as the ARMv4 build
makes its own: llvm-mc-16, ld.lld-16 by cmake/ce-armv4.ld with the import
slots of src/coredll/ce/coredll.def, then cmake/ce_elf_to_pe.py."""

import importlib.util
import os
import shutil
import subprocess

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
WRITER = os.path.join(ROOT, "cmake", "ce_elf_to_pe.py")
CORE_DEF = os.path.join(ROOT, "src", "coredll", "ce", "coredll.def")
# LLVM 16 and, for the writer, Debian's python3-pyelftools and python3-pefile.
TOOLS_MISSING = not (shutil.which("llvm-mc-16") and shutil.which("ld.lld-16")
                     and importlib.util.find_spec("elftools")
                     and importlib.util.find_spec("pefile"))


def make_image(directory, source, triple="armv4"):
    """Assembles `source` for `triple` and writes DIRECTORY/program.exe;
    returns (writer's status, its message, the image's path)."""
    paths = {kind: os.path.join(directory, "program." + kind) for kind in ("s", "o", "elf", "exe")}
    with open(paths["s"], "w", encoding="ascii") as handle:
        handle.write(source)
    slots = os.path.join(directory, "coredll_slots.ld")
    for command in (
            ["/usr/bin/python3", WRITER, "slots", CORE_DEF, slots],
            ["llvm-mc-16", "-triple=" + triple, "-filetype=obj", paths["s"], "-o", paths["o"]],
            ["ld.lld-16", "--emit-relocs", "--gc-sections", "-T",
             os.path.join(ROOT, "cmake", "ce-armv4.ld"), "-L", directory, paths["o"],
             "-o", paths["elf"]]):
        subprocess.run(command, check=True)
    written = subprocess.run(
        ["/usr/bin/python3", WRITER, "image", "--imports", CORE_DEF, "--machine", "0x1C0",
         "--subsystem-version", "3.0", paths["elf"], paths["exe"]],
        capture_output=True, text=True, check=False)
    return written.returncode, written.stderr, paths["exe"]
