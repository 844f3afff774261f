"""Where Wine is known to differ from the device, in one place.

Wine implements desktop Windows on a Unix file system; the device is Windows
CE.  Before the answers are compared, Wine's are brought to what the device
would answer in these respects only:

1. Drive letters.  A device path has none.  Each file case is a drive root in
   Wine (the probe makes it the current drive), so "\\Temp" means the same
   place on both sides; nothing in the answers carries the letter.
2. "." and "..".  Wine's search of a directory that is not a drive root
   yields them; the device's never does.  They are dropped from Wine's answers.
3. Short (8.3) names.  Wine gives a long name a generated short name and
   matches a pattern against either; the device has no short names.  An entry
   Wine yields only because its short name matches is dropped: its long name
   does not match the pattern by Wine's own rule (wine_mask_matches).
4. Attributes.  Wine marks every file archived and Unix dot-files hidden, its
   own readings of a Unix file.  Only the read-only and directory bits, the
   ones a Unix file system keeps, are compared (on both sides).
5. UTF-8 exports.  Wine's import reads no UTF-8 (a file without a byte-order
   mark is ANSI text to it, one with a UTF-8 mark is refused); the host reads
   version-5 exports in UTF-8 too, for exports written on Linux.  Wine is
   given the same export as UTF-16LE (wine_encoding).
6. Unix paths.  Wine reads a path that begins with "/" as a Unix path; the
   device reads "/" as a separator.  No question begins with "/" (cases.py).
7. Half a UTF-16 unit.  A version-5 export's hex(1), hex(2) or hex(7) value
   with an odd byte count makes Wine's import read one byte past the data
   (an uninitialised byte, a Wine fault); such values are not drawn.

Anything else Wine answers is taken as the platform's answer.
"""

from names import upper

READ_ONLY = 0x1
DIRECTORY = 0x10
INVALID_ATTRIBUTES = 0xFFFFFFFF


def units(hex_text):
    """The UTF-16 code units of a hex-coded string."""
    if hex_text == "~":
        return []
    return [int(hex_text[i : i + 4], 16) for i in range(0, len(hex_text), 4)]


def _upper_unit(unit):
    if 0xD800 <= unit <= 0xDFFF:
        return unit
    return ord(upper(chr(unit)))


def wine_mask_matches(mask, name):
    """Whether Wine's search matches `name` against `mask` (both lists of
    code units): "*" any run, "?" one unit, others equal after upper-casing;
    after a mismatch it retries one unit after the last star's start, and
    trailing dots and stars of the mask are ignored once the name is used up."""
    m = n = 0
    last_star = None
    retry = 0
    while n < len(name) and m < len(mask):
        if mask[m] == ord("*"):
            while m < len(mask) and mask[m] == ord("*"):
                m += 1
            if m == len(mask):
                return True
            last_star = m
            while n < len(name) and _upper_unit(name[n]) != _upper_unit(mask[m]):
                n += 1
            retry = n
        elif mask[m] == ord("?"):
            m += 1
            n += 1
        elif _upper_unit(mask[m]) == _upper_unit(name[n]):
            m += 1
            n += 1
            if m == len(mask):
                if n == len(name):
                    return True
                if last_star is not None:
                    m = last_star
        elif last_star is not None:
            m = last_star
            retry += 1
            n = retry
        else:
            return False
    while m < len(mask) and mask[m] in (ord("."), ord("*")):
        m += 1
    return n == len(name) and m == len(mask)


def wine_encoding(encoding):
    """The encoding in which Wine is given an export drawn in `encoding`."""
    return "utf16" if encoding.startswith("utf8") else encoding


def _attributes(value):
    if value == INVALID_ATTRIBUTES:
        return value
    return value & (READ_ONLY | DIRECTORY)


def normalise(lines, wine):
    """The answers of one case as the device would give them; `wine` says
    whether they are Wine's.  A search's entries are sorted (the order of a
    directory's entries is the file system's, not the platform's)."""
    out = []
    pattern = []
    entries = None  # the current search's entries, once it yielded one
    for line in lines + ["end"]:
        words = line.split()
        if words[0] != "entry" and entries is not None:
            out += sorted(entries) if entries else ["  none"]
            entries = None
        if words[0] == "find":
            path = units(words[1])
            cut = max([i + 1 for i, u in enumerate(path) if u in (0x5C, 0x2F)] + [0])
            pattern = path[cut:]
            # A path loses its trailing dots and spaces, the pattern's too.
            while len(pattern) > 1 and pattern[-1] in (0x2E, 0x20):
                pattern = pattern[:-1]
        elif line.startswith("  attributes="):
            line = f"  attributes={_attributes(int(line.split('=')[1], 16)):X}"
        elif words[0] == "entry":
            entries = [] if entries is None else entries
            name, attributes, size, short = words[1:5]
            if wine and name in ("002E", "002E002E"):
                continue
            if wine and units(short.split("=")[1]) and not wine_mask_matches(pattern, units(name)):
                continue
            value = int(attributes.split("=")[1], 16)
            entries.append(f"  entry {name} attributes={_attributes(value):X} {size}")
            continue
        if words[0] != "end":
            out.append(line)
    return out
