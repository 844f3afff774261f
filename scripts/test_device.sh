#!/usr/bin/env bash
# test_device.sh - the Windows CE device executables through ce-run: builds
# both (presets ce-armv7 and ce-armv5te) and the host build with ce-run,
# plays the scenario suite on each executable, runs ce-run's own checks (a
# hand-made image for each fault, bad files, the ARMv5TE model refusing the
# ARMv7 executable, damaged files, the trace against the host build's) and
# measures the README's figures, failing when a goal is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh servicepack-cleanup ce-run
scripts/setup_device.sh

status=0
for cpu in armv7 armv5te; do
    echo "-- Scenarios on build-ce-$cpu/servicepack-cleanup.exe through ce-run"
    python3 tests/scenarios/run_scenarios.py --build host --runner build/ce-run \
        --program build-ce-$cpu/servicepack-cleanup.exe || status=1
done

echo "-- ce-run's own checks"
python3 tests/ce_run/runner_test.py --runner build/ce-run \
    --armv7 build-ce-armv7/servicepack-cleanup.exe \
    --armv5te build-ce-armv5te/servicepack-cleanup.exe \
    --host-program build/servicepack-cleanup || status=1

echo "-- Figures (ce-run --stats)"
python3 tests/ce_run/device_figures.py --runner build/ce-run \
    build-ce-armv7/servicepack-cleanup.exe build-ce-armv5te/servicepack-cleanup.exe || status=1
exit $status
