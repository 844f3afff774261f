"""Names for the differential test: letters from many scripts, letters whose
case mapping is special, surrogate pairs, dots and spaces inside names.

upper() is the platform's comparison of names: each UTF-16 code unit
upper-cased by a one-to-one table, which in Wine holds exactly the pairs of
Unicode's simple case mapping whose upper case lower-cases back, and nothing
outside the basic plane.  The generator uses it only to keep the names of one
directory distinct, as the device's file system does.
"""

# Letters of many scripts, each with its other case where it has one.
SCRIPTS = (
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    "\u00e0\u00e9\u00f1\u00f6\u00c0\u00c9\u00d1\u00d6\u0101\u0100\u0142\u0141"  # Latin
    "\u03b1\u03b2\u03c9\u0391\u0392\u03a9"  # Greek
    "\u0436\u044f\u0416\u042f\u0451\u0401"  # Cyrillic
    "\u0561\u0531\u10d0\u1c90\u13a0\uab70\u13f8\u13f0"  # Armenian, Georgian, Cherokee
    "\u2c00\u2c30\uff21\uff41\u2160\u2170\u24b6\u24d0"  # Glagolitic, fullwidth, numerals
    "\u05d0\u0627\u65e5\u672c\uac00\u0e01"  # no case
)
# Letters whose case mapping is not one to one, or differs between Unicode's
# full and simple tables, or is outside the basic plane.
SPECIAL = (
    "\u017f\u212a\u212b\u2126\u0131\u0130\u00b5\u03c2\u01c5\u01c4\u01c6\u00df\u1e9e"
    "\u00ff\u0178\u01f0\u0149\u0390\ufb00\ufb03\u03d0\u03d1\u1fb3\u1fbc\u1c80\u0345"
    "\U00010428\U00010400\U0001f600\U0001d400"
)
ANSI = "abcXYZ\u00e9\u00c9\u00df\u00ff\u0178\u20ac\u0160\u0161\u00b5\u00e6\u00c6\u0152\u0153"
# Characters no platform name may hold.
BAD_NAME_CHARS = ["*", "?", '"', "<", ">", "|", ":", "\x01", "\t"]
DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{i}" for d in ("COM", "LPT") for i in range(10)}


def upper_char(ch):
    """The platform's upper case of one character (see the module's text)."""
    if ord(ch) > 0xFFFF:
        return ch
    up = ch.upper()
    if len(up) != 1:
        up = ch.title()
    if len(up) != 1 or up.lower() != ch:
        return ch
    return up


def upper(text):
    return "".join(upper_char(ch) for ch in text)


def flip_case(rng, text):
    """`text` with some letters' case flipped by Python's full mapping, which
    is wider than the platform's (it can give "SS" for a sharp s)."""
    out = []
    for ch in text:
        if rng.random() < 0.5:
            out.append(ch.lower() if ch.isupper() else ch.upper())
        else:
            out.append(ch)
    return "".join(out)


def random_name(rng, ansi=False):
    """A name that Windows CE and desktop Windows read alike: no character
    either refuses, no trailing dot or space, not a DOS device name (which
    only the desktop reads otherwise; wine_differences.py, B)."""
    letters = ANSI if ansi else rng.choice([SCRIPTS, SCRIPTS + SPECIAL, SPECIAL + "ab"])
    length = rng.choice([1, 1, 2, 3, 5, 8, 12, 20])
    name = "".join(rng.choice(letters) for _ in range(length))
    roll = rng.random()
    if roll < 0.35:
        name += "." + "".join(rng.choice(letters) for _ in range(rng.choice([1, 3, 3, 4])))
    elif roll < 0.45:
        name += rng.choice([".txt", ".TXT", ".tar.gz", ".t", ". x", " x", "~1", ".exe"])
    if rng.random() < 0.1:
        name = rng.choice([".", " ", "~", "_"]) + name
    name = name.rstrip(". ")
    if not name or name.split(".")[0].upper() in DEVICE_NAMES:
        name = "n" + name
    return name
