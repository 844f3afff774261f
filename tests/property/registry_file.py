"""Registry export files for randomized device trees.

write_registry builds the text of a registry export holding, or not, the
package key and its "CabFile" value, of any value type, in any of the
export's encodings, and returns the data bytes the device's registry would
hand out for "CabFile" (None when the run finds no such value).

The data an import gives follow the registry editor's documented behaviour,
which Wine's "reg import" shares:
- a file without the UTF-16LE byte-order mark ("REGEDIT4") is text in the
  ANSI code page, Windows-1252; its strings, and the bytes of its hex(1),
  hex(2) and hex(7) values, are converted to UTF-16 with MultiByteToWideChar,
  after a NUL byte is appended to such bytes unless the last one is NUL;
- in a UTF-16 file those values keep their UTF-16LE bytes, and a NUL
  character is appended unless the last one is NUL.
"""

import device_names

PACKAGE_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13"
VALUE_NAME = "CabFile"
HEADERS = {
    "utf16": "Windows Registry Editor Version 5.00",
    "utf8": "Windows Registry Editor Version 5.00",
    "utf8bom": "Windows Registry Editor Version 5.00",
    "regedit4": "REGEDIT4",
}


def utf16(text):
    """The UTF-16LE bytes of `text`, as the registry stores strings."""
    return text.encode("utf-16-le")


# Bytes Windows-1252 leaves undefined; MultiByteToWideChar gives each the
# control character of the same value (Microsoft's best-fit table for code
# page 1252), where Python's codec refuses them.
UNDEFINED_1252 = {0x81, 0x8D, 0x8F, 0x90, 0x9D}


def ansi_bytes(text):
    """`text` in Windows-1252, or None when a character has no byte there."""
    out = bytearray()
    for ch in text:
        if ord(ch) in UNDEFINED_1252:
            out.append(ord(ch))
            continue
        try:
            out += ch.encode("cp1252")
        except UnicodeEncodeError:
            return None
    return bytes(out)


def widen_ansi(data):
    """The UTF-16LE bytes the import makes of ANSI hex string data: a NUL
    byte appended unless the last byte is NUL, each byte a character."""
    if data[-1:] != b"\0":
        data += b"\0"
    text = "".join(chr(b) if b in UNDEFINED_1252 else bytes([b]).decode("cp1252") for b in data)
    return utf16(text)


def quoted(text):
    """A .reg quoted string for `text`."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def hex_data(rng, type_tag, data):
    """A hex(...) value: comma-separated bytes, sometimes wrapped over
    continuation lines as the registry editor writes them, now and then with
    blank and comment lines between them, which the import passes over."""
    prefix = "hex:" if type_tag is None else "hex(%x):" % type_tag
    parts = ["%02x" % b for b in data]
    if not rng.random() < 0.5 or len(parts) < 20:
        return prefix + ",".join(parts)
    lines = []
    step = rng.randint(8, 25)
    for start in range(0, len(parts), step):
        lines.append(",".join(parts[start : start + step]))
    joint = rng.choice([",\\\n  ", ",\\\n  ", ",\\\n\n  ; more\n  "])
    return prefix + joint.join(lines)


def cabinet_value(rng, path, encoding):
    """The (text after "=", data bytes) of a "CabFile" value naming
    `path`, of a random type."""
    printable = all(ch >= " " and ch != "\x7f" for ch in path)
    ansi = ansi_bytes(path) if encoding == "regedit4" else None
    kinds = ["binary", "none", "binary_nul"]
    kinds += ["expand", "multi", "sz_hex"] if encoding != "regedit4" or ansi else []
    if printable and (encoding != "regedit4" or ansi is not None):
        kinds += ["sz", "sz", "sz"]
    kind = rng.choice(kinds)
    if kind == "sz":
        return quoted(path), utf16(path) + b"\0\0"
    if kind in ("expand", "multi", "sz_hex"):
        tag = {"expand": 2, "multi": 7, "sz_hex": 1}[kind]
        ending = rng.choice([b"", b"\0", b"\0\0"][: 3 if kind == "multi" else 2])
        if ansi is not None:
            written = ansi + ending
            data = widen_ansi(written)
        else:
            written = utf16(path) + ending * 2
            data = written if written[-2:] == b"\0\0" else written + b"\0\0"
        # "hex(t):" with no byte at all is an empty value.
        return hex_data(rng, tag, written), data if written else b""
    if kind == "none":
        data = utf16(path) + b"\0\0"
        return hex_data(rng, 0, data), data
    if kind == "binary_nul":
        data = utf16(path) + b"\0\0" + bytes(rng.randrange(256) for _ in range(rng.randint(1, 9)))
        return hex_data(rng, None, data), data
    data = utf16(path)
    return hex_data(rng, None, data), data


def short_value(rng, path):
    """A dword or qword "CabFile" naming a path of at most 2 or 4
    characters."""
    data = utf16(path)
    if len(data) <= 4 and rng.random() < 0.7:
        data = data.ljust(4, b"\0")
        return "dword:%08x" % int.from_bytes(data, "little"), data
    data = data.ljust(8, b"\0")
    return hex_data(rng, 0xB, data), data


def other_values(rng):
    """A few unrelated values, each as a line."""
    lines = []
    for _ in range(rng.randint(0, 3)):
        name = rng.choice(["Version", "CabFile2", "Cab File", "CabFil", "Path", "@"])
        shown = "@" if name == "@" else quoted(name)
        lines.append(shown + "=" + rng.choice(['"1.13"', "dword:00000001", "hex:00,01"]))
    return lines


def write_registry(rng, filename, cabinet_path):
    """Writes a registry export to `filename` and returns the "CabFile" data
    the run will read, or None when it will find no such value.
    `cabinet_path` is the device path to record (None: no value)."""
    encoding = rng.choice(list(HEADERS))
    lines = [HEADERS[encoding], ""]
    if rng.random() < 0.3:
        lines += ["[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps]", '"x"="y"', ""]
    if rng.random() < 0.15:
        lines += ["[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]", ""]

    key = device_names.case_variant(rng, PACKAGE_KEY)
    result = None
    if cabinet_path is not None:
        if len(cabinet_path) <= 4 and rng.random() < 0.5:
            text, data = short_value(rng, cabinet_path)
        else:
            text, data = cabinet_value(rng, cabinet_path, encoding)
        where = rng.random()
        if where < 0.08:
            # Under a key of another name: the run finds nothing.
            key = rng.choice(
                [
                    PACKAGE_KEY.replace("1.13", "1.12"),
                    PACKAGE_KEY.replace("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"),
                    PACKAGE_KEY + " ",
                ]
            )
        else:
            result = data
        if rng.random() < 0.1:
            # An earlier section of the same key: the later one counts.
            lines += ["[" + device_names.other_case(key) + "]", '"CabFile"="\\\\nothing"', ""]
        lines.append("[" + key + "]")
        lines += other_values(rng)
        if rng.random() < 0.1:
            lines.append(quoted(device_names.case_variant(rng, VALUE_NAME)) + '="\\\\earlier"')
        lines.append(quoted(device_names.case_variant(rng, VALUE_NAME)) + "=" + text)
        lines += other_values(rng)
    else:
        lines.append("[" + key + "]")
        lines += other_values(rng)
    lines.append("")

    newline = rng.choice(["\r\n", "\n"])
    text = newline.join(lines) + newline
    if encoding == "utf16":
        raw = b"\xff\xfe" + text.encode("utf-16-le")
    elif encoding == "utf8bom":
        raw = b"\xef\xbb\xbf" + text.encode("utf-8")
    elif encoding == "regedit4":
        raw = ansi_bytes(text)
    else:
        raw = text.encode("utf-8")
    with open(filename, "wb") as handle:
        handle.write(raw)
    return result
