"""Random cases for the differential test, seeded, aimed at the edges.

A file case is a small device tree (names the device can hold: valid on the
platform, distinct ignoring case within a directory) and questions about it:
attributes, searches and one deletion, each under some spelling of a path or
a pattern.  A registry case is a block of a registry export (one key of its
own and its subkeys) and questions about its values, under the key's and the
value's names in several spellings.  Registry cases are grouped by encoding,
one export file per group.
"""

import random

from names import (
    BAD_NAME_CHARS,
    flip_case,
    random_name,
    upper,
)

ROOT_KEY = "SOFTWARE\\Differential"


class FileCase:
    """A device tree and questions about it."""

    kind = "files"

    def __init__(self, number):
        self.number = number
        self.entries = []  # (path tuple, "dir" | "file", read_only)
        self.questions = []  # (verb, text)

    def describe(self):
        """The case, small enough to read."""
        lines = [f"files case {self.number}:"]
        for path, kind, read_only in self.entries:
            flag = " (read-only)" if read_only else ""
            lines.append(f"  {kind} {ascii(chr(92) + chr(92).join(path))}{flag}")
        return lines


class RegistryCase:
    """A block of a registry export and questions about its values."""

    kind = "registry"

    def __init__(self, number, encoding):
        self.number = number
        self.encoding = encoding  # "utf16" | "ansi4" | "ansi5" | "utf8" | "utf8bom"
        self.lines = []
        self.questions = []  # ("reg", key, value name)
        self.newline = "\r\n"

    def block(self):
        """The case's lines of the export, as text."""
        return self.newline.join(self.lines) + self.newline + self.newline

    def describe(self):
        lines = [f"registry case {self.number} ({self.encoding}):"]
        lines += ["  " + ascii(line)[1:-1] for line in self.lines]
        return lines


# ---------------------------------------------------------------- files


def path_text(parts):
    return "\\" + "\\".join(parts)


def respell(rng, parts):
    """Another spelling of the device path `parts`: case flipped, trailing
    dots and spaces, doubled or forward separators, "." and ".." steps."""
    out = []
    for index, part in enumerate(parts):
        roll = rng.random()
        if roll < 0.3:
            part = flip_case(rng, part)
        elif roll < 0.4:
            part = upper(part)
        if rng.random() < 0.08:
            out.append(rng.choice([".", "nowhere\\..", "..", "..\\.."]))
        out.append(part)
        if index == len(parts) - 1 and rng.random() < 0.2:
            out[-1] += rng.choice([".", " ", "..", ". ", " .", "...", "  "])
    separator = rng.choice(["\\"] * 8 + ["/", "\\\\"])
    text = separator.join(out)
    lead = rng.choice(["\\"] * 9 + ["", "/", "\\\\", "//", "\\/", "\\\\\\"])
    tail = rng.choice([""] * 12 + ["\\", "/", "\\/"])
    path = lead + text + tail
    if rng.random() < 0.05:
        # Padded with "." steps to about the 259 characters the device takes.
        steps = max(0, (rng.randint(256, 262) - len(path)) // 2)
        path = path[: len(lead)] + ".\\" * steps + path[len(lead):]
    return path


def wildcard_of(rng, name):
    """A pattern aimed at `name`: parts replaced by "*" or "?", dots moved."""
    out = []
    i = 0
    while i < len(name):
        roll = rng.random()
        if roll < 0.12:
            out.append("*")
            i += rng.randint(0, 3)
        elif roll < 0.22:
            out.append("?")
            i += 1
        elif roll < 0.27:
            out.append(rng.choice([".", "*.", ".*", "?."]))
        else:
            out.append(flip_case(rng, name[i]) if rng.random() < 0.3 else name[i])
            i += 1
    if rng.random() < 0.15:
        out.append(rng.choice([".", "*", "?", ".*", "*.*", "??", "...", " "]))
    return "".join(out)


def random_pattern(rng):
    """A pattern from the usual forms and their edges."""
    return rng.choice(
        ["*", "*.*", "*.", ".*", "?", "??*", "*?", "*.?", "?.*", "*.txt", "*.TXT", "*.t?t",
         "*t*", "a*", "*.*.*", "**", "*..*", "*. ", ". *", "*~*", "*_*", "<", "*>", '*"*']
    )


def random_tree(rng, case):
    """Fills `case.entries`: the root's files and up to two directories."""
    directories = [()]
    for _ in range(rng.choice([0, 1, 1, 2])):
        directories.append((random_name(rng),))
    if len(directories) > 1 and rng.random() < 0.3:
        directories.append(directories[1] + (random_name(rng),))
    taken = {}
    for directory in directories:
        taken.setdefault(directory, set())
        if directory:
            parent = directory[:-1]
            key = upper(directory[-1])
            if key in taken.setdefault(parent, set()):
                continue
            taken[parent].add(key)
            case.entries.append((directory, "dir", False))
    for directory in [d for d in directories if (d, "dir", False) in case.entries or d == ()]:
        for _ in range(rng.randint(1, 6)):
            name = random_name(rng)
            if upper(name) in taken[directory]:
                continue
            taken[directory].add(upper(name))
            case.entries.append((directory + (name,), "file", rng.random() < 0.2))


def file_case(rng, number):
    case = FileCase(number)
    random_tree(rng, case)
    files = [e[0] for e in case.entries if e[1] == "file"]
    dirs = [()] + [e[0] for e in case.entries if e[1] == "dir"]
    known = [e[0] for e in case.entries]
    for _ in range(rng.randint(2, 5)):
        target = rng.choice(known)
        if rng.random() < 0.15:
            target = target[:-1] + (target[-1] + rng.choice(BAD_NAME_CHARS) + "x",)
        elif rng.random() < 0.05:  # a lone surrogate, which no Linux name holds
            target = target[:-1] + (target[-1] + rng.choice(["\ud800", "\udc00"]),)
        case.questions.append(("attr", respell(rng, target)))
    for _ in range(rng.randint(2, 5)):
        directory = rng.choice(dirs)
        in_dir = [f[-1] for f in known if f[:-1] == directory]
        if in_dir and rng.random() < 0.7:
            pattern = wildcard_of(rng, rng.choice(in_dir))
        else:
            pattern = random_pattern(rng)
        spelled = respell(rng, directory) if directory else rng.choice(["\\", "\\", "\\.\\"])
        if not spelled.endswith(("\\", "/")):
            spelled += "\\"
        case.questions.append(("find", spelled + pattern))
    if files:
        target = rng.choice(files)
        spelled = respell(rng, target)
        case.questions += [("attr", spelled), ("delete", spelled), ("attr", path_text(target))]
    return case


# ---------------------------------------------------------------- registry

ENCODINGS = ("utf16", "utf16", "ansi4", "ansi4", "ansi5", "utf8", "utf8bom")
TYPED = ["hex", "hex(0)", "hex(1)", "hex(2)", "hex(3)", "hex(4)", "hex(7)", "hex(b)", "hex(100)"]


def value_name(rng, encoding):
    roll = rng.random()
    if roll < 0.1:
        return ""  # the default value, written @
    if roll < 0.5:
        return "".join(rng.choice("abcXYZ019 _-.") for _ in range(rng.randint(1, 8)))
    name = random_name(rng, ansi=encoding.startswith("ansi"))
    if rng.random() < 0.2:
        name += rng.choice(['"q"', "\\", "a\\b", "=", "[x]"])
    return name


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def string_data(rng, encoding):
    """A quoted string, with escapes: \\\\ \\" \\n \\r and unknown ones."""
    pieces = []
    for _ in range(rng.randint(0, 6)):
        roll = rng.random()
        if roll < 0.15:
            pieces.append(rng.choice(["\\\\", '\\"', "\\n", "\\r", "\\t", "\\x", "\\0", "\\"]))
        else:
            pieces.append(random_name(rng, ansi=encoding.startswith("ansi"))[:6])
    text = '"' + "".join(pieces)
    return text + ('"' if rng.random() < 0.93 else "")


def hex_bytes(rng, count):
    return [f"{rng.randrange(256):02x}" for _ in range(count)]


def hex_data(rng, prefix, encoding):
    """hex data with odd spacing and continuation lines, blanks and comments
    inside; a few malformed."""
    parts = hex_bytes(rng, rng.randint(0, 20))
    if prefix in ("hex(2)", "hex(7)", "hex(1)") and encoding != "ansi4" and len(parts) % 2:
        parts.pop()  # never half a UTF-16 unit (wine_differences.py, 7)
    if prefix in ("hex(2)", "hex(7)", "hex(1)") and rng.random() < 0.7:
        parts = []
        for ch in "ab\u00e9\u20ac" if rng.random() < 0.5 else "xy":
            unit = ord(ch)
            parts += [f"{unit & 0xff:02x}", f"{unit >> 8:02x}"]
        parts += ["00", "00"] * rng.randint(0, 2)
    if rng.random() < 0.2:
        parts = [p.upper() for p in parts]
    text = prefix + ":"
    lines = []
    for index, part in enumerate(parts):
        text += part
        if index < len(parts) - 1:
            text += rng.choice([",", ",", ",", ", ", " ,"])
            if rng.random() < 0.15:
                lines.append(text + "\\")
                if rng.random() < 0.3:
                    lines.append(rng.choice(["", ";comment", "  ", "# hash", "  ;c"]))
                text = "  "
    if rng.random() < 0.06:
        tails = [",", "z", ",0", "1", " \\"]
        if prefix in ("hex(2)", "hex(7)", "hex(1)") and encoding != "ansi4":
            tails = [",", "z", " \\"]  # no stray byte: never half a unit (wine_differences.py, 5)
        text += rng.choice(tails)
    lines.append(text)
    return lines


def dword_data(rng):
    digits = "".join(rng.choice("0123456789abcdefABCDEF") for _ in range(rng.randint(1, 8)))
    roll = rng.random()
    if roll < 0.08:
        digits = rng.choice(["", "123456789", "xyz", " 1", "1 ", "-1", "0x10"])
    return rng.choice(["dword:", "dword:", "DWORD:", "dword: "]) + digits


def registry_case(rng, number, encoding):
    case = RegistryCase(number, encoding)
    if rng.random() < 0.3:
        case.newline = "\n"
    key = f"{ROOT_KEY}\\R{number}"
    full = "HKEY_LOCAL_MACHINE\\" + key
    subkeys = [""]
    if rng.random() < 0.3:
        subkeys.append("\\" + random_name(rng, ansi=encoding.startswith("ansi")))
    names = []
    for _ in range(rng.randint(1, 3)):
        sub = rng.choice(subkeys)
        header = f"[{full}{sub}]"
        if rng.random() < 0.2:
            header = "[" + flip_case(rng, header[1:-1]) + "]"
        if rng.random() < 0.1:
            header = rng.choice([header + " ", " " + header, header + ";x", header[:-1]])
        case.lines.append(header)
        for _ in range(rng.randint(1, 5)):
            if names and rng.random() < 0.2:
                name = rng.choice(names)  # a duplicate, possibly in another case
                if rng.random() < 0.5:
                    name = flip_case(rng, name)
            else:
                name = value_name(rng, encoding)
            names.append(name)
            left = "@" if name == "" else quote(name)
            equals = rng.choice(["=", "=", "=", " = ", "= ", " ="])
            roll = rng.random()
            if roll < 0.3:
                data = [string_data(rng, encoding)]
            elif roll < 0.45:
                data = [dword_data(rng)]
            elif roll < 0.85:
                data = hex_data(rng, rng.choice(TYPED), encoding)
            elif roll < 0.9:
                data = ["-"]
            else:
                data = [rng.choice(['"unquoted', "nonsense", "str:x", "hex(2:00", ""])]
            case.lines.append(left + equals + data[0])
            case.lines.extend(data[1:])
            if rng.random() < 0.1:
                case.lines.append(rng.choice(["", ";comment", "garbage line", '"x"', "  "]))
        if rng.random() < 0.3:
            case.lines.append("")
    for _ in range(rng.randint(2, 6)):
        sub = rng.choice(subkeys)
        spelled = key + sub
        if rng.random() < 0.3:
            spelled = flip_case(rng, spelled)
        name = rng.choice(names) if rng.random() < 0.9 else value_name(rng, encoding)
        if rng.random() < 0.3:
            name = flip_case(rng, name)
        case.questions.append(("reg", spelled, name))
    return case


def draw(count, seed):
    """`count` cases from `seed`: about half of each kind."""
    rng = random.Random(seed)
    cases = []
    for number in range(count):
        if rng.random() < 0.5:
            cases.append(file_case(rng, number))
        else:
            cases.append(registry_case(rng, number, rng.choice(ENCODINGS)))
    return cases
