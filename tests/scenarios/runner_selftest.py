#!/usr/bin/env python3
"""Checks that the scenario runner can fail: scenario files that cannot be
played are refused, every kind of tree difference is reported, and an
inert program that changes nothing fails the typical run.
"""

import os
import stat
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import device_tree  # noqa: E402
import run_scenarios  # noqa: E402
from host_player import HostPlayer  # noqa: E402
from scenario_file import ScenarioError, parse_scenario  # noqa: E402

MINIMAL = """description: d
program: \\Temp\\ServicePack\\Setup.exe
"""


class ScenarioFileTest(unittest.TestCase):
    """Scenario files that cannot be played as written are refused."""

    def test_refuses_malformed_scenarios(self):
        cases = {
            "no after section": MINIMAL,
            "unknown header": MINIMAL + "colour: red\n== after ==\n",
            "single build without why": MINIMAL + "builds: host\n== after ==\n",
            "symlink in both builds": MINIMAL + "== before ==\nsymlink \\x -> /y\n== after ==\n",
            "outside entry in both builds": MINIMAL + "== after ==\nfile @outside\\x = y\n",
            "path without root": MINIMAL + "== after ==\nfile Temp\\x = y\n",
            "slash separators": MINIMAL + "== after ==\nfile \\Temp/x = y\n",
            "bad hex": MINIMAL + "== after ==\nfile \\x =hex 5g\n",
            "registry content without registry": MINIMAL + "== after ==\nfile \\x =registry\n",
            "mode in after": MINIMAL + "== after ==\nfile-mode 0600 \\x = y\n",
            "desktop outcome without why": MINIMAL + "== after ==\n== after on desktop ==\n",
        }
        for what, text in cases.items():
            with self.subTest(what):
                with self.assertRaises(ScenarioError):
                    parse_scenario("case", text)

    def test_expands_generated_names_and_keeps_registry_text(self):
        scenario = parse_scenario(
            "case",
            MINIMAL
            + "== before ==\nfiles 3 \\d\\{x*3}-{n:02}.tmp = number {n}\n"
            + '== registry ==\n[K]\n"V"="{a*3}"\n\n== after ==\n',
        )
        self.assertEqual(
            [(e.path, e.content) for e in scenario.before],
            [(f"\\d\\xxx-0{i}.tmp", f"number {i}".encode()) for i in range(3)],
        )
        self.assertEqual(scenario.registry, '[K]\r\n"V"="aaa"\r\n')


class DifferencesTest(unittest.TestCase):
    """Every way a tree can differ from the expected one is reported."""

    def test_reports_each_difference(self):
        expected = {
            "\\a": ("file", b"x", False, ""),
            "\\b": ("dir", b"", False, ""),
            "\\c": ("file", b"x", True, ""),
            "\\d": ("file", device_tree.PROGRAM, False, ""),
        }
        actual = {
            "\\a": ("file", b"y", False, ""),
            "\\c": ("file", b"x", False, ""),
            "\\d": ("file", device_tree.PROGRAM, False, ""),
            "\\e": ("symlink", b"", False, "/t"),
        }
        lines = device_tree.differences(expected, actual)
        self.assertEqual([line.split()[:2] for line in lines],
                         [["differs", "\\a:"], ["missing", "\\b:"], ["differs", "\\c:"],
                          ["unexpected", "\\e:"]])
        self.assertEqual(device_tree.differences(expected, dict(expected)), [])


class InertProgramTest(unittest.TestCase):
    """A program that does nothing must fail the typical run."""

    def test_typical_run_fails_for_a_program_that_does_nothing(self):
        with tempfile.TemporaryDirectory() as scratch:
            inert = os.path.join(scratch, "inert")
            with open(inert, "w", encoding="utf-8") as handle:
                handle.write("#!/bin/sh\nexit 0\n")
            os.chmod(inert, stat.S_IRWXU)
            scenario = run_scenarios.load_scenario(
                os.path.join(run_scenarios.CASES, "typical_run.scenario")
            )
            lines = run_scenarios.judge(scenario, HostPlayer(inert).play(scenario))
        self.assertIn(
            "differs    \\Temp\\ServicePackOld\\PatchUnInstall.exe: expected program, "
            "got file 'uninstaller of the pack before'",
            lines,
        )
        self.assertIn("unexpected \\Temp\\ServicePack\\Setup.exe: program", lines)
        cabinet = "unexpected \\Cabs\\ServicePack113.cab"
        self.assertTrue(any(line.startswith(cabinet) for line in lines))


if __name__ == "__main__":
    unittest.main()
