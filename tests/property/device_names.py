"""Names for randomized device trees, and the device's case-insensitive
comparison of them.

Generated names mix plain ASCII, long names, Unicode letters (among them
letters whose case mapping is not one-to-one), control characters and
wildcard characters.  The device compares names unit by unit after
upper-casing each UTF-16 code unit with a fixed one-to-one table; Wine's
table (RtlUpcaseUnicodeChar) holds exactly the pairs of Unicode's simple case
mapping where a letter's upper case lower-cases back to it, and nothing
outside the basic plane.  A name that is not valid UTF-8 on disk equals
nothing.
"""

import os

# Letters that upper-case one to one, and letters that broader foldings make
# equal to another (long s, Kelvin sign, dotless and dotted i, micro sign,
# final sigma, title-case digraph, sharp s and its capital, a Deseret pair).
UNICODE_LETTERS = "éÉöÖüÜжЖωΩßçÇ日本語ÿŸაᲐ" + "ſKıİµςǅẞ\U00010428\U00010400"
ASCII_LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
PLAIN_CHARS = ASCII_LETTERS + "0123456789._- "


def upper_char(ch):
    """The device's upper case of one character: its simple upper case when
    that lower-cases back to it, otherwise the character itself.  Python
    gives full mappings; a letter whose full upper case is several characters
    (a Greek letter with ypogegrammeni) has its simple one as its title case."""
    if ord(ch) > 0xFFFF:
        return ch
    upper = ch.upper()
    if len(upper) != 1:
        upper = ch.title()
    if len(upper) != 1 or upper.lower() != ch:
        return ch
    return upper


def is_valid_name(name):
    """Whether an on-disk name (str from os.listdir) is valid UTF-8, that is,
    holds no surrogate-escaped byte."""
    try:
        name.encode("utf-8")
        return True
    except UnicodeEncodeError:
        return False


def fold(name):
    """The upper-cased form of a whole name, in which names compare."""
    return "".join(upper_char(ch) for ch in name)


def names_equal_ignoring_case(a, b):
    """Whether two valid names are equal ignoring case."""
    return is_valid_name(a) and is_valid_name(b) and fold(a) == fold(b)


def case_variant(rng, name):
    """`name` with the case of some of its letters flipped (possibly none) by
    Python's case mapping, which for a few letters (long s, final sigma, ...)
    gives one the device does not count as equal: a decoy, not a variant."""
    out = []
    for ch in name:
        if ch.isalpha() and rng.random() < 0.5:
            flipped = ch.lower() if ch.isupper() else ch.upper()
            out.append(flipped if len(flipped) == 1 else ch)
        else:
            out.append(ch)
    return "".join(out)


def other_case(name):
    """`name` with every letter's case flipped (differs from `name` when it
    holds a letter)."""
    return "".join(
        (ch.lower() if ch.isupper() else ch.upper()) if len(ch.swapcase()) == 1 else ch
        for ch in name
    )


def random_name(rng, allow_odd=True):
    """A random file or directory name, never "." or ".." and never longer
    than the file system's 255 bytes."""
    kind = rng.random()
    if kind < 0.45 or not allow_odd:
        length = rng.randint(1, 12)
        name = "".join(rng.choice(ASCII_LETTERS + "0123456789_-") for _ in range(length))
        if rng.random() < 0.5:
            name += rng.choice([".txt", ".cab", ".exe", ".dat", ".TMP", ""])
    elif kind < 0.6:
        length = rng.randint(100, 255)
        name = "".join(rng.choice(ASCII_LETTERS) for _ in range(length))
    elif kind < 0.78:
        length = rng.randint(1, 30)
        name = "".join(rng.choice(UNICODE_LETTERS + ASCII_LETTERS) for _ in range(length))
    elif kind < 0.9:
        name = "".join(rng.choice(PLAIN_CHARS) for _ in range(rng.randint(1, 6)))
        name += rng.choice(["\x01", "\t", "\n", "\x7f", "\x1b"])
        name += "".join(rng.choice(PLAIN_CHARS) for _ in range(rng.randint(0, 4)))
    else:
        name = rng.choice(
            ["*.*", "?", "a*b", "x.", " lead", "trail ", "...", "[x]", "%s", "%%", "a<b>", "p|q",
             "CON", "nul.txt", "Com1.cab", "aux ", "lpt9", "conx"]
        )
    if name in (".", ".."):
        name = "n" + name
    return name


def undecodable_name(rng):
    """A name whose on-disk bytes are not valid UTF-8."""
    raw = b"bad" + bytes([rng.choice([0xFF, 0xFE, 0xC0, 0x80])]) + b".txt"
    return os.fsdecode(raw)
