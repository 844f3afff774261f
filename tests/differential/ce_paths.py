"""How Windows CE reads a path and a search pattern, from its published
source (paths under PRIVATE/WINCEOS/COREOS/ of the CE 6.0 shared source; the
tests' oracle for the host layer, never the layer's own code):

- CORE/DLL/apis.c, CeGetCanonicalPathNameW, with CORE/DLL/cnnclpth.c:
  a path of MAX_PATH (260) characters or more fails (StringCchLength); "\\"
  and "/" both separate and runs of them count as one; GetPathType makes a
  network path of two equal slashes not followed by a third; "." is dropped,
  ".." pops the previous component (nothing at the root), every other
  component is kept as given, trailing dots and spaces included; the result
  is "\\" and the components joined by "\\", so a final separator is dropped
  and a relative path is taken from the root.
- STORAGE/FSDMGR/pathapi.cpp, SafeGetCanonicalPathW: the canonical path must
  fit MAX_PATH with its NUL; IsLegacyDeviceName sends a root-level name of
  five characters ending in ":" ("\\COM1:") to the device manager (the host
  has no devices); InternalFindFirstFileW's SimplifySearchSpec makes a final
  "\\*.*" "\\*".
- CORE/DLL/apis.c, MatchesWildcardMask: "*" any run, "?" one character or,
  once the name is used up, nothing; other characters equal ignoring case.

Names compare through names.upper, Wine's table: CE's comparison beyond
ASCII is not published in a form that can be checked here.
"""

import functools
import re

from names import upper

MAX_PATH = 260


def utf16(text):
    """The UTF-16 code units of `text`."""
    data = text.encode("utf-16-le", "surrogatepass")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def units(text):
    """The number of UTF-16 code units of `text`."""
    return len(utf16(text))


def upper_unit(unit):
    """One code unit upper-cased (a surrogate is itself)."""
    return unit if 0xD800 <= unit <= 0xDFFF else ord(upper(chr(unit)))


def is_network(path):
    """GetPathType (cnnclpth.c): two equal slashes not followed by a third."""
    return len(path) >= 2 and path[0] in "\\/" and path[1] == path[0] and (
        len(path) == 2 or path[2] not in "\\/")


def canonical(path):
    """The components of `path` as CE reads it, or None when the path names
    no local file (too long, a network path or a legacy device)."""
    if units(path) >= MAX_PATH or is_network(path):
        return None
    parts = []
    for component in re.split(r"[\\/]", path):
        if component == "..":
            parts = parts[:-1]
        elif component not in ("", "."):
            parts.append(component)
    text = "\\" + "\\".join(parts)
    if units(text) + 1 > MAX_PATH:
        return None
    if len(utf16(text)) == 6 and utf16(text)[5] == ord(":"):
        return None
    return parts


def search(pattern_path):
    """A search path as FindFirstFileW reads it: (directory components, name
    pattern as code units), or None when it names no search."""
    parts = canonical(pattern_path)
    if not parts:
        return None
    pattern = "*" if parts[-1] == "*.*" else parts[-1]
    return parts[:-1], utf16(pattern)


def mask_matches(mask, name):
    """MatchesWildcardMask (apis.c), transcribed; `mask` and `name` are
    lists of UTF-16 code units."""
    star, question = ord("*"), ord("?")

    @functools.lru_cache(maxsize=None)
    def matches(m, t):
        while m < len(mask) and t < len(name):
            if mask[m] == question:
                m += 1
                t += 1
                continue
            if mask[m] == star:
                if m + 1 == len(mask):
                    return True
                return any(matches(m + 1, k) for k in range(t, len(name)))
            if upper_unit(mask[m]) != upper_unit(name[t]):
                return False
            m += 1
            t += 1
        if m == len(mask):
            return t == len(name)
        return all(c in (star, question) for c in mask[m:])

    return matches(0, 0)
