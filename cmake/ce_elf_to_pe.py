#!/usr/bin/python3
"""Writes a Windows CE ARM executable from the program ld.lld linked as ELF.

    ce_elf_to_pe.py slots COREDLL.def SLOTS.ld
    ce_elf_to_pe.py image --imports COREDLL.def --machine 0x1C0 --subsystem-version 3.0
                    PROGRAM.elf PROGRAM.exe

LLVM writes ARM-mode code only to ELF: its COFF support for ARM is Thumb-2.
So the ARMv4 build links with ld.lld (cmake/ce-armv4.ld) and this tool
writes the PE image CE's loader reads:

- `slots` writes the linker-script lines of COREDLL's import address table:
  a zero word named __imp_<name> for each function of the .def file, in its
  order, and the closing zero.  The script puts them at the start of .idata.
- `image` copies .text, .rdata, .data and .idata to the RVAs of their ELF
  addresses less __ImageBase, each at a page.  It completes .idata with the
  import directory: COREDLL.dll by name, each hint the function's ordinal.
  It makes a HIGHLOW base relocation of every R_ARM_ABS32 (ld.lld
  --emit-relocs keeps them) in .reloc, where the relocation directory starts
  (Compact 7 takes relocations that start no section as stripped).  Then it
  writes the headers and the checksum (python3-pefile).

It refuses what it cannot map exactly: another section, relocation kind,
an undefined symbol, a relocation against an absolute one, a linker thunk
(whose absolute address carries no relocation), a slot out of its place.
Run it with /usr/bin/python3: Debian's pyelftools and pefile are seen only
by the system interpreter.
"""

import argparse
import re
import struct
import sys

import pefile
from elftools.elf.constants import SH_FLAGS
from elftools.elf.elffile import ELFFile

PAGE = 0x1000
FILE_ALIGNMENT = 0x200
HEADERS_SIZE = 0x200
STACK = (0x10000, 0x1000)  # CE's default: 64 KiB reserved, a page committed
HEAP = (0x100000, 0x1000)
# Section name: (ELF write and execute flags, PE characteristics).
SECTIONS = {
    ".text": (SH_FLAGS.SHF_EXECINSTR, 0x60000020),  # code, execute, read
    ".rdata": (0, 0x40000040),  # initialized data, read
    ".data": (SH_FLAGS.SHF_WRITE, 0xC0000040),  # initialized data, read, write
    # Written here whole; ld.lld gives it the flags of the section before it.
    ".idata": (None, 0xC0000040),  # the loader writes the import address table
}
RELOC_CHARACTERISTICS = 0x42000040  # initialized data, discardable, read
R_ARM_ABS32 = 2
# Relocations relative to the place (AAELF32: ((S + A) | T) - P): nothing to
# do when the whole image moves.
PC_RELATIVE = {1: "R_ARM_PC24", 3: "R_ARM_REL32", 28: "R_ARM_CALL", 29: "R_ARM_JUMP24",
               42: "R_ARM_PREL31"}
IMAGE_REL_BASED_HIGHLOW = 3
DEF_EXPORT = re.compile(r"^\s+(\w+) @(\d+) DATA$")


class Refusal(Exception):
    """What the ELF program holds that the image cannot carry exactly."""


def read_def(path):
    """(DLL name, [(function, ordinal)]) of a .def file as coredll.def writes it."""
    library, functions = None, []
    with open(path, encoding="ascii") as source:
        for line in source.read().splitlines():
            if not line.strip() or line.startswith(";") or line == "EXPORTS":
                continue
            match = DEF_EXPORT.match(line)
            if line.startswith("LIBRARY "):
                library = line.split()[1]
            elif match:
                functions.append((match.group(1), int(match.group(2))))
            else:
                raise Refusal(f"{path}: cannot read the line {line!r}")
    if not library or not functions:
        raise Refusal(f"{path}: no LIBRARY or no EXPORTS")
    return library, functions


def slots(functions):
    """The linker-script lines of the import address table."""
    lines = [f"__imp_{name} = .; LONG(0);" for name, _ in functions]
    return "\n".join(lines + ["LONG(0);  /* the table's end */", ""])


def image_sections(elf):
    """[(name, address, data, characteristics)] of the image's sections in
    address order, each checked against SECTIONS."""
    found = []
    for section in elf.iter_sections():
        if not section["sh_flags"] & SH_FLAGS.SHF_ALLOC:
            continue
        name = section.name
        if name not in SECTIONS:
            raise Refusal(f"section {name} is none of {', '.join(SECTIONS)}")
        wanted, characteristics = SECTIONS[name]
        flags = section["sh_flags"] & (SH_FLAGS.SHF_WRITE | SH_FLAGS.SHF_EXECINSTR)
        if section["sh_type"] != "SHT_PROGBITS" or wanted not in (flags, None):
            raise Refusal(f"section {name} is {section['sh_type']} with flags {flags:#x}")
        found.append((name, section["sh_addr"], section.data(), characteristics))
    found.sort(key=lambda entry: entry[1])
    if not found or found[-1][0] != ".idata":
        raise Refusal("the import address table (.idata) is not the last section")
    return found


def check_symbols(elf, functions, idata_address):
    """Refuses undefined symbols, linker thunks and slots out of place."""
    slot_of = {f"__imp_{name}": idata_address + 4 * index
               for index, (name, _) in enumerate(functions)}
    for symbol in elf.get_section_by_name(".symtab").iter_symbols():
        name, value = symbol.name, symbol["st_value"]
        if symbol["st_shndx"] == "SHN_UNDEF" and name:
            raise Refusal(f"symbol {name} is undefined")
        if "Thunk_" in name:
            raise Refusal(f"the linker made the thunk {name}, whose address has no relocation")
        if name.startswith("__imp_") and slot_of.get(name) != value:
            raise Refusal(f"{name} at {value:#x} is not the slot the .def file gives it")


def highlow_places(elf, mapped):
    """The addresses of every R_ARM_ABS32, checked to lie in the code and
    data copied; refuses every other kind but those relative to the place."""
    symbols = elf.get_section_by_name(".symtab")
    places = []
    for section in elf.iter_sections():
        if section["sh_type"] == "SHT_RELA":
            raise Refusal(f"{section.name}: RELA relocations")
        if section["sh_type"] != "SHT_REL":
            continue
        target = elf.get_section(section["sh_info"]).name
        if target not in mapped or target == ".idata":
            raise Refusal(f"{section.name}: relocations of section {target}")
        for relocation in section.iter_relocations():
            kind = relocation["r_info_type"]
            symbol = symbols.get_symbol(relocation["r_info_sym"])
            place = relocation["r_offset"]
            if kind != R_ARM_ABS32 and kind not in PC_RELATIVE:
                raise Refusal(f"relocation type {kind} at {place:#x} ({symbol.name})")
            if relocation["r_info_sym"] == 0 or symbol["st_shndx"] not in mapped.values():
                raise Refusal(f"relocation at {place:#x} against {symbol.name or 'no symbol'}, "
                              "which no section of the image holds")
            start = elf.get_section_by_name(target)["sh_addr"]
            if not start <= place <= start + elf.get_section_by_name(target)["sh_size"] - 4:
                raise Refusal(f"relocation at {place:#x} outside {target}")
            if kind == R_ARM_ABS32:
                places.append(place)
    return sorted(places)


def import_tables(library, functions, iat_rva, descriptors_rva):
    """(the import directory from `descriptors_rva` on: descriptors, lookup
    table, hints and names, the library's name; the lookup table's words,
    which the import address table holds until the loader binds it)."""
    count = len(functions)
    lookup_rva = descriptors_rva + 2 * 20
    names_rva = lookup_rva + 4 * (count + 1)
    hint_names, entries = b"", []
    for name, ordinal in functions:
        entries.append(names_rva + len(hint_names))
        entry = struct.pack("<H", ordinal) + name.encode("ascii") + b"\0"
        hint_names += entry + b"\0" * (len(entry) % 2)
    library_rva = names_rva + len(hint_names)
    descriptor = struct.pack("<5I", lookup_rva, 0, 0, library_rva, iat_rva)
    lookup = struct.pack(f"<{count + 1}I", *entries, 0)
    tables = descriptor + b"\0" * 20 + lookup + hint_names + library.encode("ascii") + b"\0"
    return tables, lookup


def relocation_blocks(rvas):
    """The .reloc contents: one block per page, HIGHLOW entries, padded."""
    blocks = b""
    pages = sorted({rva & ~(PAGE - 1) for rva in rvas})
    for page in pages:
        entries = [IMAGE_REL_BASED_HIGHLOW << 12 | rva - page for rva in rvas
                   if rva & ~(PAGE - 1) == page]
        entries += [0] * (len(entries) % 2)
        blocks += struct.pack(f"<II{len(entries)}H", page, 8 + 2 * len(entries), *entries)
    return blocks


def align(value, alignment):
    """`value` rounded up to `alignment`."""
    return (value + alignment - 1) // alignment * alignment


def raw_size(sections):
    """The file space `sections` take."""
    return sum(align(len(section[2]), FILE_ALIGNMENT) for section in sections)


def layout(elf, library, functions):
    """(base, entry RVA, [(name, rva, data, characteristics)], iat (rva, size),
    import directory (rva, size), relocation directory (rva, size))."""
    if elf["e_machine"] != "EM_ARM" or elf.elfclass != 32 or not elf.little_endian \
            or elf["e_type"] != "ET_EXEC":
        raise Refusal("not a linked 32-bit little-endian ARM program")
    symbols = elf.get_section_by_name(".symtab")
    image_base = symbols.get_symbol_by_name("__ImageBase") if symbols else None
    base = image_base[0]["st_value"] if image_base else 1
    if base % 0x10000:
        raise Refusal("no symbol table, or no __ImageBase on a 64 KiB boundary")
    found = image_sections(elf)
    iat_address = found[-1][1]
    check_symbols(elf, functions, iat_address)
    iat_size = 4 * (len(functions) + 1)
    if found[-1][2] != b"\0" * iat_size:
        raise Refusal(f".idata holds more than the {len(functions)} slots of the .def file")
    sections, previous_end = [], base + PAGE
    for name, address, data, characteristics in found:
        if address % PAGE or address < previous_end:
            raise Refusal(f"section {name} at {address:#x} is not on a page of its own")
        sections.append([name, address - base, data, characteristics])
        previous_end = address + len(data)
    entry = elf["e_entry"]
    text = next(section for section in sections if section[0] == ".text")
    if entry % 4 or not text[1] <= entry - base < text[1] + len(text[2]):
        raise Refusal(f"the entry {entry:#x} is not ARM code in .text")
    mapped = {name: index for index, section in enumerate(elf.iter_sections())
              for name in [section.name] if name in SECTIONS}
    rvas = [place - base for place in highlow_places(elf, mapped)]
    iat_rva = sections[-1][1]
    descriptors_rva = iat_rva + iat_size
    tables, lookup = import_tables(library, functions, iat_rva, descriptors_rva)
    sections[-1][2] = lookup + tables
    relocations = (0, 0)  # nothing to apply: no .reloc section, nothing stripped
    if rvas:
        reloc_rva, blocks = align(iat_rva + len(sections[-1][2]), PAGE), relocation_blocks(rvas)
        sections.append([".reloc", reloc_rva, blocks, RELOC_CHARACTERISTICS])
        relocations = (reloc_rva, len(blocks))
    return (base, entry - base, sections, (iat_rva, iat_size), (descriptors_rva, 40),
            relocations)


def pe_bytes(machine, version, base, entry, sections, iat, imports, relocations):
    """The PE image, checksum 0."""
    directories = [(0, 0)] * 16
    directories[1], directories[5], directories[12] = imports, relocations, iat
    code = [section for section in sections if section[3] & 0x20]
    data = [section for section in sections if section not in code]
    headers = bytearray(b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40))
    headers += b"PE\0\0" + struct.pack("<HHIIIHH", machine, len(sections), 0, 0, 0, 0xE0,
                                       0x0102)  # executable, 32-bit machine
    headers += struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, raw_size(code), raw_size(data), 0,
        entry, code[0][1], data[0][1], base, PAGE, FILE_ALIGNMENT,
        version[0], version[1], 0, 0, version[0], version[1], 0,
        align(sections[-1][1] + len(sections[-1][2]), PAGE), HEADERS_SIZE, 0,
        9, 0, *STACK, *HEAP, 0, 16)  # subsystem WINDOWS_CE_GUI
    headers += b"".join(struct.pack("<II", *directory) for directory in directories)
    body, offset = b"", HEADERS_SIZE
    for name, rva, contents, characteristics in sections:
        raw = align(len(contents), FILE_ALIGNMENT)
        headers += struct.pack("<8sIIIIIIHHI", name.encode("ascii"), len(contents), rva, raw,
                               offset, 0, 0, 0, 0, characteristics)
        body += contents + b"\0" * (raw - len(contents))
        offset += raw
    if len(headers) > HEADERS_SIZE:
        raise Refusal(f"{len(sections)} sections do not fit the headers")
    return bytes(headers) + b"\0" * (HEADERS_SIZE - len(headers)) + body


def write_image(elf_path, def_path, machine, version, exe_path):
    """Writes the PE image of the ELF program; raises Refusal."""
    library, functions = read_def(def_path)
    with open(elf_path, "rb") as stream:
        elf = ELFFile(stream)
        data = pe_bytes(machine, version, *layout(elf, library, functions))
    image = pefile.PE(data=data)
    image.OPTIONAL_HEADER.CheckSum = image.generate_checksum()
    with open(exe_path, "wb") as output:
        output.write(image.write())


def main():
    """Runs the command named on the command line."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    slot_command = commands.add_parser("slots")
    slot_command.add_argument("definitions")
    slot_command.add_argument("script")
    image_command = commands.add_parser("image")
    image_command.add_argument("--imports", required=True)
    image_command.add_argument("--machine", required=True, type=lambda text: int(text, 0))
    image_command.add_argument("--subsystem-version", required=True,
                               type=lambda text: tuple(int(part) for part in text.split(".")))
    image_command.add_argument("elf")
    image_command.add_argument("exe")
    arguments = parser.parse_args()
    try:
        if arguments.command == "slots":
            with open(arguments.script, "w", encoding="ascii") as script:
                script.write(slots(read_def(arguments.definitions)[1]))
        else:
            write_image(arguments.elf, arguments.imports, arguments.machine,
                        arguments.subsystem_version, arguments.exe)
    except Refusal as refusal:
        print(f"ce_elf_to_pe.py: {refusal}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
