"""Playing a scenario on the host build.

Each run gets a fresh temporary directory holding the device root ("root")
and, beside it, the outside directory ("outside") that symbolic links in a
scenario may point at.  The program is copied into place with its mode,
started with the device root as its working directory and without
COREDLL_TRACE, and the registry export is the root's "registry.reg".  A
device executable is started through its runner: "ce-run [OPTIONS] PROGRAM
ARGS".
"""

import os
import shutil
import subprocess
import tempfile

import device_tree
from scenario_file import encode_registry

REGISTRY_FILE = "registry.reg"
RUN_TIMEOUT_SECONDS = 60


class HostPlayer:
    """Plays scenarios against the host build of the program."""

    build = "host"

    def __init__(self, program, runner=None, runner_options=()):
        self.program = os.path.abspath(program)
        self.launcher = [os.path.abspath(runner)] + list(runner_options) if runner else []
        with open(self.program, "rb") as handle:
            self.program_bytes = handle.read()

    def play(self, scenario):
        """Runs `scenario` once.  Returns (exit status, actual listing,
        expected listing, extra problems as lines)."""
        workspace = tempfile.mkdtemp(prefix="scenario-host-")
        try:
            return self._play_in(scenario, workspace)
        finally:
            device_tree.remove_tree(workspace)

    def _play_in(self, scenario, workspace):
        """Plays `scenario` with its device root inside `workspace`."""
        root = os.path.join(workspace, "root")
        outside = os.path.join(workspace, "outside")
        os.mkdir(root)
        os.mkdir(outside)
        device_tree.make_tree(scenario.before, root, outside)

        # A scenario may lay out registry.reg itself (as a link, say).
        registry_bytes = None
        laid_out = any(e.path.lower() == "\\" + REGISTRY_FILE for e in scenario.before)
        if scenario.registry is not None and not laid_out:
            registry_bytes = encode_registry(scenario.registry, scenario.registry_encoding)
            with open(os.path.join(root, REGISTRY_FILE), "wb") as handle:
                handle.write(registry_bytes)

        placed = device_tree.disk_path(scenario.program, root, outside)
        os.makedirs(os.path.dirname(placed), exist_ok=True)
        shutil.copy2(self.program, placed)

        environment = {k: v for k, v in os.environ.items() if k != "COREDLL_TRACE"}
        log_path = os.path.join(workspace, "program.log")
        with open(log_path, "wb") as log:
            completed = subprocess.run(
                self.launcher + [placed] + scenario.args,
                cwd=root,
                env=environment,
                stdin=subprocess.DEVNULL,
                stdout=log,
                stderr=subprocess.STDOUT,
                timeout=RUN_TIMEOUT_SECONDS,
                check=False,
            )

        problems = self._registry_problems(root, registry_bytes)
        with open(log_path, "rb") as log:
            output = log.read()
        if output:
            problems.append(f"the program wrote output: {output[:200]!r}")

        actual = device_tree.list_tree(
            root, "\\", self.program_bytes, skip_top=[REGISTRY_FILE], outside=outside
        )
        prefix = device_tree.OUTSIDE_PREFIX
        actual.update(device_tree.list_tree(outside, prefix, self.program_bytes, (), outside))
        expected = device_tree.expected_listing(scenario.expected_after(self.build))
        return completed.returncode, actual, expected, problems

    @staticmethod
    def _registry_problems(root, registry_bytes):
        """The run only reads the registry: its file must be as it was."""
        path = os.path.join(root, REGISTRY_FILE)
        if registry_bytes is None:
            return []
        try:
            with open(path, "rb") as handle:
                now = handle.read()
        except OSError:
            return ["the registry file is gone"]
        return [] if now == registry_bytes else ["the registry file was changed"]
