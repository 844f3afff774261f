#!/usr/bin/env bash
# test_device.sh - the Windows CE device executables through ce-run: builds
# both (presets ce-armv4i and ce-armv7) and the host build with ce-run, plays
# the scenario suite on each executable under every CE version it is for
# (ARMV4I: CE 5.0, 6.0 and Compact 7 on the ARMv4T model; ARMv7: Compact
# 2013), runs ce-run's own checks (a hand-made image for each fault, the CE
# loaders' refusals, bad files, the CPU models, damaged files, the trace
# against the host build's) and measures the README's figures, failing when a
# goal is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh servicepack-cleanup ce-run
scripts/setup_device.sh

status=0
for run in armv4i:ce5 armv4i:ce6 armv4i:ce7 armv7:ce2013; do
    build=${run%:*} os=${run#*:}
    echo "-- Scenarios on build-ce-$build/servicepack-cleanup.exe through ce-run --os $os"
    python3 tests/scenarios/run_scenarios.py --build host --runner build/ce-run --os "$os" \
        --program build-ce-$build/servicepack-cleanup.exe || status=1
done

echo "-- ce-run's own checks"
python3 tests/ce_run/runner_test.py --runner build/ce-run \
    --armv4i build-ce-armv4i/servicepack-cleanup.exe \
    --armv7 build-ce-armv7/servicepack-cleanup.exe \
    --host-program build/servicepack-cleanup || status=1

echo "-- Figures (ce-run --stats)"
python3 tests/ce_run/device_figures.py --runner build/ce-run \
    build-ce-armv4i/servicepack-cleanup.exe build-ce-armv7/servicepack-cleanup.exe || status=1
exit $status
