"""Registry export files for randomized device trees.

write_registry builds the text of a registry export holding, or not, the
package key and its "CabFile" value, of any value type, in any of the
export's encodings, and returns the data bytes the device's registry would
hand out for "CabFile" (None when the run finds no such value).
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


def quoted(text):
    """A .reg quoted string for `text`."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def hex_data(rng, type_tag, data):
    """A hex(...) value: comma-separated bytes, sometimes wrapped over
    continuation lines as the registry editor writes them."""
    prefix = "hex:" if type_tag is None else "hex(%x):" % type_tag
    parts = ["%02x" % b for b in data]
    if not rng.random() < 0.5 or len(parts) < 20:
        return prefix + ",".join(parts)
    lines = []
    step = rng.randint(8, 25)
    for start in range(0, len(parts), step):
        lines.append(",".join(parts[start : start + step]))
    return prefix + (",\\\n  ").join(lines)


def cabinet_value(rng, path, encoding):
    """The (text after "=", data bytes) of a "CabFile" value naming
    `path`, of a random type."""
    printable = all(ch >= " " and ch != "\x7f" for ch in path)
    ascii_only = all(ord(ch) < 128 for ch in path)
    kinds = ["expand", "multi", "binary", "none", "binary_nul"]
    if printable and (ascii_only or encoding != "regedit4"):
        kinds += ["sz", "sz", "sz"]
    kind = rng.choice(kinds)
    if kind == "sz":
        return quoted(path), utf16(path) + b"\0\0"
    if kind == "expand":
        data = utf16(path) + b"\0\0"
        return hex_data(rng, 2, data), data
    if kind == "multi":
        data = utf16(path) + b"\0\0\0\0"
        return hex_data(rng, 7, data), data
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
    else:
        raw = text.encode("utf-8")
    with open(filename, "wb") as handle:
        handle.write(raw)
    return result
