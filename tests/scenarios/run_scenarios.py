#!/usr/bin/env python3
"""Plays the scenario suite against one build of the program.

    run_scenarios.py --build host --program build/servicepack-cleanup
    run_scenarios.py --build wine --program build-windows/servicepack-cleanup.exe \\
                     --prefix "$WINEPREFIX"
    run_scenarios.py --build host --runner build/ce-run [--os ce7] [--cpu armv4] \\
                     [--base 0x20000000] --program build-ce-armv4/servicepack-cleanup.exe

A device executable runs through ce-run against the host layer, so it plays
the scenarios that apply to the host build.

Every scenario under cases/ (or only those named on the command line) is
played on a fresh device tree; the tree afterwards and the exit status are
compared with the scenario's expectations.  One line per scenario, then a
final line "N passed, M failed, K skipped"; the exit status is 1 when any
scenario failed (or could not be read), 0 otherwise.

A scenario marked "host-known-failure" is expected to fail on the host
build: it is reported as a known failure, and as a failure should it pass.
"""

import argparse
import glob
import os
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

# pylint: disable=wrong-import-position
import device_tree  # noqa: E402
from scenario_file import ScenarioError, load_scenario  # noqa: E402

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases")


def parse_arguments():
    """The command line, checked."""
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", choices=("host", "wine"), required=True)
    parser.add_argument("--program", required=True, help="the built executable")
    parser.add_argument("--prefix", help="the Wine prefix (wine build only)")
    parser.add_argument("--wine", default="wine", help="the wine launcher")
    parser.add_argument("--runner", help="host build only: start the program through this")
    parser.add_argument("--os", help="with --runner (ce-run): the CE version that loads it")
    parser.add_argument("--cpu", help="with --runner (ce-run): the CPU model that runs it")
    parser.add_argument("--base", help="with --runner (ce-run): where the image loads")
    parser.add_argument("--cases", default=CASES, help="directory of *.scenario files")
    parser.add_argument("names", nargs="*", help="play only these scenarios")
    arguments = parser.parse_args()
    if arguments.build == "wine" and not arguments.prefix:
        parser.error("--build wine needs --prefix")
    if arguments.build == "wine" and arguments.runner:
        parser.error("--runner is for the host build")
    if (arguments.os or arguments.cpu or arguments.base) and not arguments.runner:
        parser.error("--os, --cpu and --base are for a device executable run through --runner")
    return arguments


def selected_files(cases, names):
    """The scenario files to play, sorted; all of them when `names` is empty."""
    files = sorted(glob.glob(os.path.join(cases, "*.scenario")))
    if not names:
        return files
    chosen = [f for f in files if os.path.basename(f)[: -len(".scenario")] in names]
    missing = set(names) - {os.path.basename(f)[: -len(".scenario")] for f in chosen}
    if missing:
        raise ScenarioError(f"no such scenario: {', '.join(sorted(missing))}")
    return chosen


def make_player(arguments):
    """The player for the chosen build."""
    if arguments.build == "host":
        from host_player import HostPlayer  # pylint: disable=import-outside-toplevel

        options = [word for option in ("os", "cpu", "base") if getattr(arguments, option)
                   for word in ("--" + option, getattr(arguments, option))]
        return HostPlayer(arguments.program, arguments.runner, options)
    from wine_player import WinePlayer  # pylint: disable=import-outside-toplevel

    return WinePlayer(arguments.program, arguments.prefix, arguments.wine)


def judge(scenario, result):
    """Lines saying what went wrong in one play; empty when it went right."""
    status, actual, expected, problems = result
    lines = list(problems)
    if status != scenario.exit_status:
        lines.append(f"exit status {status}, expected {scenario.exit_status}")
    lines.extend(device_tree.differences(expected, actual))
    return lines


def play_all(player, files):
    """Plays every file; returns (passed, failed, skipped, known) counts."""
    passed = failed = skipped = known = 0
    for path in files:
        name = os.path.basename(path)
        try:
            scenario = load_scenario(path)
        except (ScenarioError, OSError, UnicodeDecodeError) as error:
            print(f"FAIL  {name}: cannot read: {error}")
            failed += 1
            continue
        if not scenario.applies_to(player.build):
            print(f"SKIP  {scenario.name} ({scenario.builds} only: {scenario.why})")
            skipped += 1
            continue
        started = time.monotonic()
        lines = judge(scenario, player.play(scenario))
        took = f"{time.monotonic() - started:.2f}s"
        known_failure = player.build == "host" and scenario.host_known_failure
        if known_failure and lines:
            print(f"KNOWN {scenario.name} [{took}] ({scenario.host_known_failure})")
            known += 1
        elif known_failure:
            print(f"FAIL  {scenario.name} [{took}]: marked a known host failure but passes")
            failed += 1
        elif lines:
            print(f"FAIL  {scenario.name} [{took}]: {scenario.description}")
            for line in lines:
                print(f"        {line}")
            failed += 1
        else:
            print(f"PASS  {scenario.name} [{took}]")
            passed += 1
        sys.stdout.flush()
    return passed, failed, skipped, known


def main():
    """Runs the suite; returns the process exit status."""
    arguments = parse_arguments()
    try:
        files = selected_files(arguments.cases, arguments.names)
    except ScenarioError as error:
        print(error)
        return 1
    try:
        player = make_player(arguments)
    except (OSError, RuntimeError) as error:
        print(f"cannot play the scenarios: {error}")
        return 1
    try:
        passed, failed, skipped, known = play_all(player, files)
    finally:
        if hasattr(player, "close"):
            player.close()
    summary = f"{passed} passed, {failed} failed, {skipped} skipped"
    if known:
        summary += f", {known} known host failures"
    print(summary)
    return 1 if failed or not files else 0


if __name__ == "__main__":
    sys.exit(main())
