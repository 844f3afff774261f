#!/usr/bin/env bash
# test_device.sh - the Windows CE device executables through ce-run: builds
# both (presets ce-armv4 and ce-armv7) and the host build with ce-run, plays
# the scenario suite on each executable under every CE version it is for,
# runs ce-run's own checks (a hand-made image for each fault, the CE
# loaders' refusals, bad files, the CPU models, damaged files, the trace
# against the host build's) and measures the README's figures, failing when
# a goal is missed.
#
# The ARM executable plays every CE version from 3.0 to 6.0 on StrongARM
# (ARMv4, no Thumb: the strictest model), each version once more on a CPU of
# its devices (XScale for 4.2, ARM920T for 5.0, ARM1136 for 6.0), and
# Compact 7 on ARM926 and, at a base not its own, on Cortex-A8: CE 3.0-6.0
# always load it at its own base, Compact 7's kernel picks one, so that run
# applies every base relocation.  The Compact 2013 one plays on Cortex-A8.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh servicepack-cleanup ce-run
scripts/setup_device.sh

status=0
for run in "armv4 ce3 armv4" "armv4 ce42 armv4" "armv4 ce42 armv5te" "armv4 ce5 armv4" \
    "armv4 ce5 armv4t" "armv4 ce6 armv4" "armv4 ce6 armv6" "armv4 ce7 armv5te" \
    "armv4 ce7 armv7 0x20000000" "armv7 ce2013 armv7"; do
    read -r build os cpu base <<<"$run"
    echo "-- Scenarios on build-ce-$build/servicepack-cleanup.exe through" \
        "ce-run --os $os --cpu $cpu${base:+ --base $base}"
    python3 tests/scenarios/run_scenarios.py --build host --runner build/ce-run --os "$os" \
        --cpu "$cpu" ${base:+--base "$base"} --program build-ce-$build/servicepack-cleanup.exe ||
        status=1
done

echo "-- ce-run's own checks"
python3 tests/ce_run/runner_test.py --runner build/ce-run \
    --armv4 build-ce-armv4/servicepack-cleanup.exe \
    --armv7 build-ce-armv7/servicepack-cleanup.exe \
    --host-program build/servicepack-cleanup || status=1

echo "-- Figures (ce-run --stats)"
python3 tests/ce_run/device_figures.py --runner build/ce-run \
    build-ce-armv4/servicepack-cleanup.exe build-ce-armv7/servicepack-cleanup.exe || status=1
exit $status
