"""Playing a scenario on the Windows build under Wine.

The device root is the prefix's drive C:.  Before each scenario every
top-level entry of drive_c that is not Wine's own is removed, the key
HKLM\\SOFTWARE\\Apps is deleted and the scenario's registry export is
imported with "wine reg import" (as UTF-16LE with a byte-order mark, as the
registry editor writes it, or as Windows-1252 text when the scenario's file
is).  The program is started by its Windows path with
drive_c as the working directory, so that "\\Temp" is C:\\Temp.

Wine's output always goes to files: Wine's helper processes inherit pipes
and keep them open for as long as the wineserver lives.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import device_tree
from scenario_file import encode_registry

# Top-level entries of drive_c that belong to Wine; never touched or listed.
WINE_OWN = ("windows", "users", "Program Files", "Program Files (x86)", "ProgramData")
# Keys that scenarios write; each scenario starts without them.
SCENARIO_KEYS = ("HKLM\\SOFTWARE\\Apps", "HKCU\\SOFTWARE\\Apps")
RUN_TIMEOUT_SECONDS = 120
# Wine's "reg import" has once failed (status 1) on a valid export, in a run
# whose other imports all worked; it is tried again, and each failed attempt's
# output is shown.
IMPORT_ATTEMPTS = 3


class WineError(RuntimeError):
    """The prefix or Wine itself is not usable."""


def windows_path(unix_path):
    """The Z: drive path by which Wine names `unix_path`."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WinePlayer:
    """Plays scenarios against the Windows build under Wine."""

    build = "wine"

    def __init__(self, program, prefix, wine="wine"):
        self.program = os.path.abspath(program)
        self.prefix = os.path.abspath(prefix)
        self.wine = wine
        self.drive_c = os.path.join(self.prefix, "drive_c")
        # Only ever empty a directory that is plainly a Wine prefix's C:
        # (system.reg may not be written yet while a persistent server runs).
        if not (
            os.path.isdir(os.path.join(self.prefix, "dosdevices"))
            and os.path.isdir(os.path.join(self.drive_c, "windows", "system32"))
        ):
            raise WineError(f"{self.prefix} is not an initialised Wine prefix")
        with open(self.program, "rb") as handle:
            self.program_bytes = handle.read()
        self.scratch = tempfile.mkdtemp(prefix="scenario-wine-")
        self.environment = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
        self.environment.pop("DISPLAY", None)

    def close(self):
        """Removes the player's scratch directory and the last scenario's
        entries from drive_c."""
        self._clear_drive_c()
        device_tree.remove_tree(self.scratch)

    def _wine(self, arguments, log_name, cwd=None):
        """Runs wine with `arguments`, its output in a log file; returns the
        exit status."""
        log_path = os.path.join(self.scratch, log_name)
        with open(log_path, "wb") as log:
            completed = subprocess.run(
                [self.wine] + arguments,
                cwd=cwd or self.scratch,
                env=self.environment,
                stdin=subprocess.DEVNULL,
                stdout=log,
                stderr=subprocess.STDOUT,
                timeout=RUN_TIMEOUT_SECONDS,
                check=False,
            )
        return completed.returncode

    def _clear_drive_c(self):
        """Removes every top-level entry of drive_c that is not Wine's own."""
        own = {name.lower() for name in WINE_OWN}
        for name in os.listdir(self.drive_c):
            if name.lower() not in own:
                device_tree.remove_tree(os.path.join(self.drive_c, name))

    def _load_registry(self, scenario):
        """Deletes the scenario keys and imports the scenario's export.
        Returns problem lines (empty when the import worked)."""
        for key in SCENARIO_KEYS:
            self._wine(["reg", "delete", key, "/f"], "reg-delete.log")
        if scenario.registry is None:
            return []
        export = os.path.join(self.scratch, "scenario.reg")
        encoding = scenario.registry_encoding
        if encoding != "windows-1252":
            encoding = "utf-16le-bom"  # Wine reads no UTF-8
        with open(export, "wb") as handle:
            handle.write(encode_registry(scenario.registry, encoding))
        for attempt in range(1, IMPORT_ATTEMPTS + 1):
            status = self._wine(["reg", "import", windows_path(export)], "reg-import.log")
            if status == 0:
                return []
            with open(os.path.join(self.scratch, "reg-import.log"), "rb") as log:
                said = log.read().decode("utf-8", "replace").strip()
            print(f"'wine reg import' attempt {attempt} of {IMPORT_ATTEMPTS} failed with status "
                  f"{status}; Wine said: {said or '(nothing)'}", file=sys.stderr)
            time.sleep(attempt)
        return [f"'wine reg import' failed with status {status} in {IMPORT_ATTEMPTS} attempts"]

    def play(self, scenario):
        """Runs `scenario` once.  Returns (exit status, actual listing,
        expected listing, extra problems as lines)."""
        self._clear_drive_c()
        device_tree.make_tree(scenario.before, self.drive_c)
        problems = self._load_registry(scenario)

        placed = device_tree.disk_path(scenario.program, self.drive_c, None)
        os.makedirs(os.path.dirname(placed), exist_ok=True)
        shutil.copy2(self.program, placed)

        status = self._wine(["C:" + scenario.program] + scenario.args, "program.log", self.drive_c)

        actual = device_tree.list_tree(self.drive_c, "\\", self.program_bytes, skip_top=WINE_OWN)
        expected = device_tree.expected_listing(scenario.expected_after(self.build))
        return status, actual, expected, problems
