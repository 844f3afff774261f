#!/usr/bin/env python3
"""The import check must fail for each way an executable can go wrong:
a missing platform function, an extra DLL, an extra function from a DLL
that should give only the program's calls, a console subsystem, and an
object that calls something outside the platform functions."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # keep the source tree clean

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import check_imports  # noqa: E402

HEADER = "Subsystem\t\t00000002\t(Windows GUI)\n\nThe Import Tables\n"


def table(dll, functions):
    """An objdump -p import table for `dll` with `functions`."""
    rows = "".join(f"\t{8300 + i:x}\t {i + 100}  {name}\n" for i, name in enumerate(functions))
    return f" 00008000\t00008068 00000000 00000000 000086c4 00008218\n\tDLL Name: {dll}\n" \
           f"\tvma:     Ordinal  Hint  Member-Name  Bound-To\n{rows}\n"


def good_dump(subsystem="Windows GUI", extra=None, drop=None):
    """A dump of the expected executable, changed as asked."""
    dlls = {dll: sorted(names) for dll, names in check_imports.PLATFORM_FUNCTIONS.items()}
    dlls["KERNEL32.dll"] += ["GetStartupInfoW", "Sleep"]
    dlls["msvcrt.dll"] = ["__wgetmainargs", "exit", "malloc"]
    for dll, name in (extra or {}).items():
        dlls.setdefault(dll, []).append(name)
    for dll, name in (drop or {}).items():
        dlls[dll].remove(name)
    text = HEADER.replace("Windows GUI", subsystem) + "".join(table(d, n) for d, n in dlls.items())
    return text + "\nPE File Base Relocations (interpreted .reloc section contents)\n"


def problems(dump):
    """The problems the check finds in `dump`."""
    return check_imports.import_problems(
        check_imports.parse_imports(dump), check_imports.parse_subsystem(dump)
    )


class ImportTableTest(unittest.TestCase):
    """Each fault in the import table is found, and only faults are."""

    def test_expected_executable_passes(self):
        self.assertEqual(problems(good_dump()), [])

    def test_each_fault_is_reported(self):
        cases = {
            "console subsystem": (good_dump(subsystem="Windows CUI"), "subsystem"),
            "missing function": (good_dump(drop={"KERNEL32.dll": "MoveFileW"}), "MoveFileW"),
            "extra DLL": (good_dump(extra={"SHELL32.dll": "ShellExecuteW"}), "SHELL32.dll"),
            "extra registry call": (
                good_dump(extra={"ADVAPI32.dll": "RegDeleteKeyW"}),
                "RegDeleteKeyW",
            ),
            "extra USER32 call": (good_dump(extra={"USER32.dll": "MessageBoxW"}), "MessageBoxW"),
            "narrow start-up": (good_dump(drop={"msvcrt.dll": "__wgetmainargs"}), "wide"),
        }
        for what, (dump, word) in cases.items():
            with self.subTest(what):
                found = problems(dump)
                self.assertEqual(len(found), 1, found)
                self.assertIn(word, found[0])


class ObjectSymbolsTest(unittest.TestCase):
    """The program's objects may take only the platform functions."""

    platform = {f"__imp_{n}" for names in check_imports.PLATFORM_FUNCTIONS.values() for n in names}

    def test_platform_functions_and_compiler_memset_pass(self):
        undefined = self.platform | {"memset", "_Z8ZeroFillPwj"}
        self.assertEqual(check_imports.object_problems(undefined, {"_Z8ZeroFillPwj"}), [])

    def test_other_calls_and_missing_calls_are_reported(self):
        undefined = (self.platform - {"__imp_RegCloseKey"}) | {"__imp_CreateFileW", "malloc"}
        found = check_imports.object_problems(undefined, set())
        self.assertEqual(
            found,
            [
                "the program's objects use __imp_CreateFileW",
                "the program's objects use malloc",
                "the program's objects never call RegCloseKey",
            ],
        )


if __name__ == "__main__":
    unittest.main()
