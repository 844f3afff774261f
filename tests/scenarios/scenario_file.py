"""Reading a scenario file: one black-box run of the program, as data.

A scenario file is UTF-8 text.  Header lines ("key: value") come first;
then the sections, each opened by a line "== before ==", "== registry ==",
"== after ==" or "== after on desktop ==".  "after" is the outcome on
Windows CE, which the host build (and the device executables under ce-run)
must give; where desktop Windows reads paths otherwise, "after on desktop"
is the outcome the Windows build under Wine must give instead, and "why"
names the CE rule and its source.  Lines starting with "#" are comments, except inside the
registry section, whose lines are the export's text as written.

Headers:
    description: what the run shows (required)
    builds: both | host | wine          (default both)
    why: why the scenario applies to one build only, or has an outcome of
        its own on desktop Windows
    program: device path where the executable is placed (required; "{c*N}"
        as in tree paths)
    args: the command line after the program (split like a shell would)
    exit: the expected exit status     (default 0)
    registry-encoding: utf-16le-bom | utf-8 | utf-8-bom | windows-1252
        (the Wine import gets windows-1252 as it is, which Wine reads in its
        ANSI code page, 1252; any other encoding as UTF-16LE with a
        byte-order mark)
    host-known-failure: why the host build is known to differ from Wine
        (the scenario is then expected to fail on the host)

Tree entries, one a line, in "before" and "after":
    dir PATH
    file PATH [= TEXT]          a file holding TEXT (UTF-8), empty without "="
    file PATH =hex 5c 00 ...    a file holding those bytes
    file PATH =registry         a file holding the registry section, encoded
                                as registry-encoding says
    file-ro PATH ...            the same, read-only (mode 0444)
    file-mode MODE PATH ...     the same with that octal mode (before only)
    files COUNT PATH [= TEXT]   COUNT files; "{n}" or "{n:04}" in PATH and
                                TEXT is the file's number, 0 to COUNT-1
    symlink PATH -> TARGET      a symbolic link (host only); "{outside}" in
                                TARGET is the absolute path of the outside
                                directory
    program PATH                (after only) the program's own bytes

PATH is a device path ("\\Temp\\x"); "{c*N}" in it, and in the registry
section, stands for the character c repeated N times, and "{bs}" for a
backslash that is part of an on-disk name.  A path starting
"@outside\\" names an entry in the directory beside the device root, which
the program must never touch.  In "before" the parents of every entry are
made as needed; "after" lists every directory and file there must be, and
nothing else may be.
"""

import re
import shlex
from dataclasses import dataclass, field

SECTION_LINE = re.compile(r"^== (before|registry|after|after on desktop) ==\s*$")
REPEAT = re.compile(r"\{(.)\*(\d+)\}")
NUMBER = re.compile(r"\{n(?::0?(\d+))?\}")
OUTSIDE_PREFIX = "@outside\\"

BUILDS = ("both", "host", "wine")
ENCODINGS = ("utf-16le-bom", "utf-8", "utf-8-bom", "windows-1252")
HEADERS = (
    "description",
    "builds",
    "why",
    "program",
    "args",
    "exit",
    "registry-encoding",
    "host-known-failure",
)


class ScenarioError(Exception):
    """A scenario file that cannot be read as a scenario."""


@dataclass
class Entry:
    """One entry of a tree: kind is "dir", "file", "symlink" or "program"."""

    kind: str
    path: str
    content: bytes = b""
    read_only: bool = False
    mode: int = None
    target: str = ""


@dataclass
class Scenario:
    """A whole scenario, as read from its file."""

    name: str
    description: str
    builds: str
    why: str
    program: str
    args: list
    exit_status: int
    registry_encoding: str
    host_known_failure: str
    before: list = field(default_factory=list)
    registry: str = None
    after: list = field(default_factory=list)
    after_desktop: list = None

    def applies_to(self, build):
        """Whether the scenario is played on `build` ("host" or "wine")."""
        return self.builds in ("both", build)

    def expected_after(self, build):
        """The "after" entries that `build` must end with: the desktop's
        under Wine when the scenario has them, CE's otherwise."""
        if build == "wine" and self.after_desktop is not None:
            return self.after_desktop
        return self.after


def expand_repeats(text):
    """Replaces every "{c*N}" in `text` with N copies of c."""
    return REPEAT.sub(lambda m: m.group(1) * int(m.group(2)), text)


def expand_number(text, number):
    """Replaces every "{n}" or "{n:0W}" in `text` with `number`."""

    def render(match):
        width = int(match.group(1) or 0)
        return str(number).zfill(width)

    return NUMBER.sub(render, text)


REGISTRY_CONTENT = "registry"


def encode_registry(text, encoding):
    """The bytes of registry export `text` in one of the scenario encodings."""
    if encoding == "utf-8":
        return text.encode("utf-8")
    if encoding == "utf-8-bom":
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if encoding == "windows-1252":
        return text.encode("cp1252")
    return b"\xff\xfe" + text.encode("utf-16-le")


def parse_content(text, where):
    """The bytes that a file entry's text after "=" names: "hex 5c 00 ..."
    (written "=hex") gives those bytes, " TEXT" gives TEXT in UTF-8."""
    if text == REGISTRY_CONTENT:
        return None  # filled in once the registry section has been read
    if text.startswith("hex "):
        try:
            return bytes(int(byte, 16) for byte in text[4:].split())
        except ValueError as error:
            raise ScenarioError(f"{where}: bad hex bytes") from error
    return (text[1:] if text.startswith(" ") else text).encode("utf-8")


def check_path(path, where):
    """Raises ScenarioError unless `path` is a device path or an outside one."""
    if not (path.startswith("\\") or path.startswith(OUTSIDE_PREFIX)):
        raise ScenarioError(f"{where}: path must start with \\ or {OUTSIDE_PREFIX}: {path}")
    if "/" in path:
        raise ScenarioError(f"{where}: device paths use \\, not /: {path}")


def parse_entries(line, where):
    """The entries that one tree line stands for (several for "files")."""
    kind, _, rest = line.partition(" ")
    if kind == "symlink":
        path, arrow, target = rest.partition(" -> ")
        if not arrow:
            raise ScenarioError(f"{where}: symlink needs ' -> TARGET'")
        path = expand_repeats(path.strip())
        check_path(path, where)
        return [Entry("symlink", path, target=target.strip())]
    if kind in ("dir", "program"):
        path = expand_repeats(rest.strip())
        check_path(path, where)
        return [Entry(kind, path)]
    if kind not in ("file", "file-ro", "file-mode", "files"):
        raise ScenarioError(f"{where}: unknown entry kind {kind!r}")

    mode = 0o444 if kind == "file-ro" else None
    if kind == "file-mode":
        mode_text, _, rest = rest.partition(" ")
        try:
            mode = int(mode_text, 8)
        except ValueError as error:
            raise ScenarioError(f"{where}: 'file-mode' needs an octal mode") from error
    count = 1
    if kind == "files":
        count_text, _, rest = rest.partition(" ")
        if not count_text.isdigit():
            raise ScenarioError(f"{where}: 'files' needs a count")
        count = int(count_text)
    path, _, text = rest.partition(" =")
    path = expand_repeats(path.strip())
    entries = []
    for number in range(count):
        entry_path = expand_number(path, number) if kind == "files" else path
        entry_text = expand_number(text, number) if kind == "files" else text
        check_path(entry_path, where)
        entries.append(
            Entry(
                "file",
                entry_path,
                content=parse_content(entry_text, where),
                read_only=mode is not None and (mode & 0o222) == 0,
                mode=mode,
            )
        )
    return entries


def check_scenario(scenario, where):
    """Raises ScenarioError for a scenario that cannot be played as written."""
    if not scenario.description:
        raise ScenarioError(f"{where}: missing 'description'")
    if not scenario.program.startswith("\\"):
        raise ScenarioError(f"{where}: 'program' must be a device path")
    if scenario.builds not in BUILDS:
        raise ScenarioError(f"{where}: 'builds' must be one of {BUILDS}")
    if scenario.builds != "both" and not scenario.why:
        raise ScenarioError(f"{where}: a single-build scenario must say 'why'")
    if scenario.after_desktop is not None and (scenario.builds != "both" or not scenario.why):
        raise ScenarioError(f"{where}: an outcome on desktop needs both builds and a 'why'")
    if scenario.registry_encoding not in ENCODINGS:
        raise ScenarioError(f"{where}: 'registry-encoding' must be one of {ENCODINGS}")
    everything = scenario.before + scenario.after + (scenario.after_desktop or [])
    single_build_kinds = [e for e in everything if e.kind == "symlink"]
    outside = [e for e in everything if e.path.startswith(OUTSIDE_PREFIX)]
    if (single_build_kinds or outside) and scenario.builds != "host":
        raise ScenarioError(f"{where}: symlinks and outside entries are host only")
    if any(e.kind == "program" for e in scenario.before):
        raise ScenarioError(f"{where}: 'program' entries belong in 'after'")
    afters = scenario.after + (scenario.after_desktop or [])
    if any(e.mode not in (None, 0o444) for e in afters):
        raise ScenarioError(f"{where}: 'after' lists files as read-only or not, not by mode")


def parse_scenario(name, text):
    """Parses the text of scenario `name`; raises ScenarioError when malformed."""
    headers = {}
    sections = {"before": [], "registry": None, "after": [], "after on desktop": []}
    registry_lines = []
    section = None
    seen = set()
    for number, raw in enumerate(text.splitlines(), start=1):
        where = f"{name}:{number}"
        match = SECTION_LINE.match(raw)
        if match:
            section = match.group(1)
            if section in seen:
                raise ScenarioError(f"{where}: section {section} given twice")
            seen.add(section)
            if section == "registry":
                sections["registry"] = ""
            continue
        if section == "registry":
            registry_lines.append(raw)
            continue
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if section is None:
            key, colon, value = line.partition(":")
            key = key.strip().lower()
            if not colon or key not in HEADERS:
                raise ScenarioError(f"{where}: unknown header line {line!r}")
            headers[key] = value.strip()
            continue
        sections[section].extend(parse_entries(line, where))

    if sections["registry"] is not None:
        while registry_lines and not registry_lines[-1].strip():
            registry_lines.pop()
        sections["registry"] = expand_repeats("\r\n".join(registry_lines) + "\r\n")
    if "after" not in seen:
        raise ScenarioError(f"{name}: missing the 'after' section")
    try:
        exit_status = int(headers.get("exit", "0"))
    except ValueError as error:
        raise ScenarioError(f"{name}: 'exit' must be a number") from error

    scenario = Scenario(
        name=name,
        description=headers.get("description", ""),
        builds=headers.get("builds", "both"),
        why=headers.get("why", ""),
        program=expand_repeats(headers.get("program", "")),
        args=shlex.split(headers.get("args", "")),
        exit_status=exit_status,
        registry_encoding=headers.get("registry-encoding", "utf-16le-bom"),
        host_known_failure=headers.get("host-known-failure", ""),
        before=sections["before"],
        registry=sections["registry"],
        after=sections["after"],
        after_desktop=sections["after on desktop"] if "after on desktop" in seen else None,
    )
    for entry in scenario.before + scenario.after + (scenario.after_desktop or []):
        if entry.content is None:
            if scenario.registry is None:
                raise ScenarioError(f"{name}: '=registry' needs a registry section")
            entry.content = encode_registry(scenario.registry, scenario.registry_encoding)
    check_scenario(scenario, name)
    return scenario


def load_scenario(path):
    """Reads and parses the scenario file at `path` (its name is the stem)."""
    with open(path, encoding="utf-8") as handle:
        text = handle.read()
    stem = path.rsplit("/", 1)[-1]
    if stem.endswith(".scenario"):
        stem = stem[: -len(".scenario")]
    return parse_scenario(stem, text)
