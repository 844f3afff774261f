#!/usr/bin/env python3
"""Differential test: the host layer and Wine answer the same random questions.

    differential.py --host-probe build/diff_probe \\
        --wine-probe build-windows/diff_probe.exe --prefix "$WINEPREFIX" \\
        --cases 300 --seed 1

Draws the cases (cases.py), lays each file case out twice (one copy per
side) and each registry group as one export file, asks the host probe (in the
case's directory, its device root) and the Windows probe under Wine (the
case's directory as a drive, the export imported with "wine reg import"),
asking Wine each path as Windows CE reads it and bringing Wine's answers to
the device's (wine_differences.py, ce_paths.py), and compares the answers
and the trees afterwards.  Prints every disagreement with its case,
then "N passed, M failed"; exits 1 when any case failed.

Wine is run in batches: up to 22 file cases (drives D: to Y:) and one import
per registry encoding, then one probe process for the whole batch.
"""

import argparse
import difflib
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import cases as case_maker  # noqa: E402
from wine_differences import (  # noqa: E402
    normalise,
    search_pattern,
    units,
    wine_encoding,
    wine_question,
)

DRIVES = "defghijklmnopqrstuvwxy"
REGISTRY_PER_BATCH = 40
HEADERS = {
    "utf16": ("Windows Registry Editor Version 5.00", "utf-16-le", b"\xff\xfe"),
    "ansi4": ("REGEDIT4", "cp1252", b""),
    "ansi5": ("Windows Registry Editor Version 5.00", "cp1252", b""),
    "utf8": ("Windows Registry Editor Version 5.00", "utf-8", b""),
    "utf8bom": ("Windows Registry Editor Version 5.00", "utf-8", b"\xef\xbb\xbf"),
}


def hexed(text):
    """A string as the probe reads it: UTF-16 code units in hex."""
    data = text.encode("utf-16-le", "surrogatepass")
    return "".join(f"{int.from_bytes(data[i:i + 2], 'little'):04X}" for i in range(0, len(data), 2)) or "~"


def readable(hex_text):
    """A hex-coded string shown as text (a lone surrogate as \\udXXX)."""
    data = b"".join(u.to_bytes(2, "little") for u in units(hex_text))
    return ascii(data.decode("utf-16-le", "surrogatepass"))


def question_lines(case, wine=False):
    """The case's questions as the probe reads them; for Wine, in the
    spelling that reads there as on the device (wine_differences.py)."""
    lines = []
    for question in case.questions:
        question = wine_question(question) if wine else question
        lines.append(" ".join([question[0]] + [hexed(t) for t in question[1:]]))
    return lines


def lay_out(case, root):
    """Makes the case's tree under `root` (a fresh directory)."""
    os.mkdir(root)
    for path, kind, _ in case.entries:
        full = os.path.join(root, *path)
        if kind == "dir":
            os.mkdir(full)
        else:
            with open(full, "w", encoding="utf-8") as out:
                out.write(path[-1])
    for path, kind, read_only in reversed(case.entries):
        if read_only:
            os.chmod(os.path.join(root, *path), 0o444)


def snapshot(root):
    """The tree under `root`: each entry's path, kind and writability."""
    found = []
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(directory, name)
            mode = os.lstat(full).st_mode
            kind = "dir" if stat.S_ISDIR(mode) else "file"
            writable = bool(mode & 0o222)
            found.append(f"  after: {kind} {ascii(os.path.relpath(full, root))} w={writable}")
    return sorted(found)


def split_answers(path):
    """The probe's answers by case number."""
    answers = {}
    current = None
    with open(path, encoding="ascii") as answers_file:
        for line in answers_file:
            line = line.rstrip("\n")
            if line.startswith("case "):
                current = int(line.split()[1])
                answers[current] = []
            elif current is not None:
                answers[current].append(line)
    return answers


def export_bytes(encoding, blocks):
    header, codec, bom = HEADERS[encoding]
    text = header + "\r\n\r\n" + "".join(blocks)
    return bom + text.encode(codec, "replace")


class Runner:
    """Asks both sides, batch by batch."""

    def __init__(self, arguments, work):
        self.arguments = arguments
        self.work = work
        self.prefix = arguments.prefix
        self.passed = 0
        self.failed = 0

    def wine(self, command, log, cwd=None):
        """Runs wine `command`; its output goes to a log file, never a pipe."""
        with open(log, "ab") as out:
            return subprocess.run(["wine"] + command, stdout=out, stderr=out, cwd=cwd,
                                  timeout=300, check=False).returncode

    def import_to_wine(self, export, log):
        """Imports `export` with "wine reg import", tried again when it fails
        (it has once failed on a valid export; the attempt is shown)."""
        for attempt in range(1, 4):
            status = self.wine(["reg", "import", "Z:" + export.replace("/", "\\")], log)
            if status == 0:
                return
            print(f"'wine reg import' attempt {attempt} failed with status {status}; see {log}",
                  file=sys.stderr)
            time.sleep(attempt)

    def run_batch(self, index, batch):
        top = os.path.join(self.work, f"batch{index}")
        os.mkdir(top)
        file_cases = [c for c in batch if c.kind == "files"]
        registry_cases = [c for c in batch if c.kind == "registry"]
        host_answers = {}
        wine_questions = []
        # Files: one copy per side; the Wine copy is a drive.
        for drive, case in zip(DRIVES, file_cases):
            host_root = os.path.join(top, f"host{case.number}")
            wine_root = os.path.join(top, f"wine{case.number}")
            lay_out(case, host_root)
            lay_out(case, wine_root)
            link = os.path.join(self.prefix, "dosdevices", drive + ":")
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(wine_root, link)
            lines = [f"case {case.number}"] + question_lines(case)
            host_answers.update(self.ask_host(top, host_root, lines, case.number))
            wine_questions += [f"case {case.number}", f"root {drive.upper()}"]
            wine_questions += question_lines(case, wine=True)
        # Registry: one export per encoding, the same text on both sides (Wine's
        # in an encoding its import reads, wine_differences.py).
        groups = {}
        for case in registry_cases:
            groups.setdefault(case.encoding, []).append(case)
        log = os.path.join(top, "wine.log")
        for encoding, members in groups.items():
            root = os.path.join(top, f"registry-{encoding}")
            os.mkdir(root)
            export = os.path.join(root, "registry.reg")
            blocks = [c.block() for c in members]
            with open(export, "wb") as out:
                out.write(export_bytes(encoding, blocks))
            wine_export = os.path.join(top, f"wine-{encoding}.reg")
            with open(wine_export, "wb") as out:
                out.write(export_bytes(wine_encoding(encoding), blocks))
            lines = []
            for case in members:
                lines += [f"case {case.number}"] + question_lines(case)
            host_answers.update(self.ask_host(top, root, lines, encoding))
            wine_questions += lines
            self.import_to_wine(wine_export, log)
        questions = os.path.join(top, "wine-questions.txt")
        with open(questions, "w", encoding="ascii") as out:
            out.write("\n".join(wine_questions) + "\n")
        shutil.copy(self.arguments.wine_probe, os.path.join(top, "diff_probe.exe"))
        self.wine(["diff_probe.exe", "wine-questions.txt", "wine-answers.txt"], log, cwd=top)
        wine_answers = split_answers(os.path.join(top, "wine-answers.txt"))
        for case in batch:
            self.judge(case, top, host_answers.get(case.number, []),
                       wine_answers.get(case.number, ["(no answer from Wine)"]))
        if not self.arguments.keep:
            for path in [os.path.join(top, name) for name in os.listdir(top)]:
                make_writable(path)
            shutil.rmtree(top)

    def ask_host(self, top, root, lines, tag):
        questions = os.path.join(top, f"host-questions-{tag}.txt")
        answers = os.path.join(top, f"host-answers-{tag}.txt")
        with open(questions, "w", encoding="ascii") as out:
            out.write("\n".join(lines) + "\n")
        subprocess.run([self.arguments.host_probe, questions, answers], cwd=root, timeout=60,
                       check=False, stdin=subprocess.DEVNULL)
        return split_answers(answers)

    def judge(self, case, top, host_lines, wine_lines):
        echoes = [(line, search_pattern(question))
                  for line, question in zip(question_lines(case), case.questions)]
        host = normalise(host_lines, echoes, wine=False)
        wine = normalise(wine_lines, echoes, wine=True)
        if case.kind == "files":
            host += snapshot(os.path.join(top, f"host{case.number}"))
            wine += snapshot(os.path.join(top, f"wine{case.number}"))
        if host == wine:
            self.passed += 1
            return
        self.failed += 1
        print("\n".join(["DISAGREEMENT in " + case.describe()[0]] + case.describe()[1:]))
        for line in difflib.unified_diff(wine, host, "wine", "host", lineterm="", n=1):
            print("  " + annotate(line))
        sys.stdout.flush()


def annotate(line):
    """A diff line with its hex-coded strings shown as text too."""
    words = line.split()
    shown = [readable(w) for w in words[1:3] if is_hex(w)]
    return line + ("   # " + " ".join(shown) if shown else "")


def is_hex(word):
    return word == "~" or (len(word) % 4 == 0 and all(c in "0123456789ABCDEF" for c in word))


def make_writable(path):
    for directory, dirs, files in os.walk(path):
        os.chmod(directory, 0o755)
        for name in files:
            os.chmod(os.path.join(directory, name), 0o644)


def batches(all_cases):
    """Cases packed into batches of at most 22 file and 40 registry cases."""
    current = []
    for case in all_cases:
        files = sum(1 for c in current if c.kind == "files")
        registry = len(current) - files
        full = files == len(DRIVES) if case.kind == "files" else registry == REGISTRY_PER_BATCH
        if full:
            yield current
            current = []
        current.append(case)
    if current:
        yield current


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host-probe", required=True)
    parser.add_argument("--wine-probe", required=True)
    parser.add_argument("--prefix", required=True, help="an initialised Wine prefix")
    parser.add_argument("--cases", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the batches' files")
    parser.add_argument("--only", choices=("files", "registry"), help="ask only this kind")
    arguments = parser.parse_args()
    arguments.host_probe = os.path.abspath(arguments.host_probe)
    arguments.wine_probe = os.path.abspath(arguments.wine_probe)
    work = tempfile.mkdtemp(prefix="differential-")
    runner = Runner(arguments, work)
    runner.wine(["reg", "delete", "HKLM\\" + case_maker.ROOT_KEY, "/f"], os.path.join(work, "reset.log"))
    drawn = case_maker.draw(arguments.cases, arguments.seed)
    if arguments.only:
        drawn = [case for case in drawn if case.kind == arguments.only]
    for index, batch in enumerate(batches(drawn)):
        runner.run_batch(index, batch)
    if not arguments.keep:
        shutil.rmtree(work)
    else:
        print(f"batches kept in {work}")
    print(f"{runner.passed} passed, {runner.failed} failed")
    return 1 if runner.failed else 0


if __name__ == "__main__":
    sys.exit(main())
