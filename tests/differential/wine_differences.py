"""Where Wine is known to differ from the device, in one place.

Wine implements desktop Windows on a Unix file system; the device is Windows
CE.  The host is asked each question as drawn; Wine is asked it as the device
reads it (wine_question), and before the answers are compared Wine's are
brought to the device's (normalise), in these respects only.

Windows CE's own rules, each from its published source (ce_paths.py):

A. Paths.  CE reads every path through CeGetCanonicalPathNameW (coredll
   apis.c, cnnclpth.c) and fsdmgr's SafeGetCanonicalPathW (pathapi.cpp):
   "\\" and "/" separate and runs count as one; two equal slashes not
   followed by a third are a network path, which has no redirector here;
   "." is dropped, ".." pops, a final separator is dropped and a relative
   path starts at the root; 260 characters or more, or a canonical form past
   259, fail; a root-level "XXXX:" is a legacy device.  Wine is given the
   canonical spelling ("\\" and the components joined by "\\"), or, where CE
   names no local file, a path that names nothing.
B. Trailing dots and spaces, DOS device names.  CE copies each component as
   given (cnnclpth.c) and has no DOS device names (only A's legacy devices);
   desktop Windows drops a trailing dot or space and reads CON, aux.log, ...
   as devices.  No tree holds such names (names.random_name), so what CE
   names by them is missing: Wine is given a name no tree holds instead
   (U+E000 appended to the name without its trailing dots and spaces).
C. Search patterns.  CE matches by MatchesWildcardMask (apis.c): "?" matches
   one character or, at the end of the name, nothing; "*." only names
   ending in a dot; only a final "*.*" means every name (SimplifySearchSpec,
   pathapi.cpp).  Wine's rules differ (DOS rules for "." and short names), so
   Wine lists the directory with "*" and keeps the entries CE's rule matches.
D. "." and "..".  Wine's search of a directory that is not a drive root
   yields them; CE's FAT file system skips them (fatfs find.c, FindNext).
   They are dropped from Wine's answers.
E. Registry limits.  CE's reference pages allow key and value names of 255
   characters and 16 levels of subkeys; Wine allows 256, 16,383 and any
   depth.  Registry cases stay within both (a few levels, short names).

Platform facts of the test set-up:

1. Drive letters.  A device path has none.  Each file case is a drive root in
   Wine (the probe makes it the current drive), so "\\Temp" means the same
   place on both sides; nothing in the answers carries the letter.
2. Attributes.  Wine marks every file archived and Unix dot-files hidden, its
   own readings of a Unix file.  Only the read-only and directory bits, the
   ones a Unix file system keeps, are compared (on both sides).
3. UTF-8 exports.  Wine's import reads no UTF-8 (a file without a byte-order
   mark is ANSI text to it, one with a UTF-8 mark is refused); the host reads
   version-5 exports in UTF-8 too, for exports written on Linux.  Wine is
   given the same export as UTF-16LE (wine_encoding).
4. Unix paths.  Wine reads a path that begins with "/" as a Unix path; it is
   only ever given canonical spellings, which begin with "\\".
5. Half a UTF-16 unit.  A version-5 export's hex(1), hex(2) or hex(7) value
   with an odd byte count makes Wine's import read one byte past the data
   (an uninitialised byte, a Wine fault); such values are not drawn.

Anything else Wine answers (which names exist, matching names ignoring case,
attributes, deletion, the registry) is taken as the platform's answer.
"""

import ce_paths
from names import DEVICE_NAMES

READ_ONLY = 0x1
DIRECTORY = 0x10
INVALID_ATTRIBUTES = 0xFFFFFFFF
NOTHING = "\ue000"


def units(hex_text):
    """The UTF-16 code units of a hex-coded string."""
    if hex_text == "~":
        return []
    return [int(hex_text[i : i + 4], 16) for i in range(0, len(hex_text), 4)]


def read_as_given_by_wine(component):
    """Whether desktop Windows reads `component` as the name it is (B)."""
    return component.rstrip(". ") == component and (
        component.split(".")[0].upper() not in DEVICE_NAMES)


def wine_spelling(parts):
    """A canonical path in a spelling Wine reads as CE does (A, B); None for
    a path that names nothing."""
    if parts is None:
        return "\\" + NOTHING
    return "\\" + "\\".join(
        p if read_as_given_by_wine(p) else p.rstrip(". ") + NOTHING for p in parts)


def wine_question(question):
    """The question Wine is asked for the drawn `question`."""
    verb, text = question[0], question[1]
    if verb in ("attr", "delete"):
        return (verb, wine_spelling(ce_paths.canonical(text)))
    if verb == "find":
        found = ce_paths.search(text)
        directory = wine_spelling(found[0] if found else None)
        return (verb, directory.rstrip("\\") + "\\*")
    return question


def search_pattern(question):
    """The name pattern (code units) CE matches for a "find" question, None
    when the search names nothing; None for other questions."""
    if question[0] != "find":
        return None
    found = ce_paths.search(question[1])
    return found[1] if found else None


def wine_encoding(encoding):
    """The encoding in which Wine is given an export drawn in `encoding`."""
    return "utf16" if encoding.startswith("utf8") else encoding


def _attributes(value):
    if value == INVALID_ATTRIBUTES:
        return value
    return value & (READ_ONLY | DIRECTORY)


def normalise(lines, echoes, wine):
    """The answers of one case as the device would give them; `echoes` are
    the drawn questions' echo lines and CE's search patterns, in order, and
    `wine` says whether the answers are Wine's.  A search's entries are
    sorted (the order of a directory's entries is the file system's)."""
    out = []
    pattern = None
    asked = iter(echoes)
    entries = None  # the current search's entries, once it yielded one
    for line in lines + ["end"]:
        words = line.split()
        if words[0] != "entry" and entries is not None:
            out += sorted(entries) if entries else ["  none"]
            entries = None
        if words[0] in ("attr", "delete", "find", "reg"):
            # Wine was asked another spelling: the drawn question stands.
            line, pattern = next(asked, (line, None))
        elif line.startswith("  attributes="):
            line = f"  attributes={_attributes(int(line.split('=')[1], 16)):X}"
        elif words[0] == "entry":
            entries = [] if entries is None else entries
            name, attributes, size = words[1:4]
            if wine and (name in ("002E", "002E002E") or pattern is None or
                         not ce_paths.mask_matches(pattern, units(name))):
                continue
            value = int(attributes.split("=")[1], 16)
            entries.append(f"  entry {name} attributes={_attributes(value):X} {size}")
            continue
        if words[0] != "end":
            out.append(line)
    return out
