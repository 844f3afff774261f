#!/usr/bin/env bash
# run_sample.sh - the main job: builds the host program, lays out a fresh
# sample device image in sample-device/, shows it, runs the cleanup on it
# with the platform calls traced, and shows the image afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Setting up and building (log: build-setup.log) ..."
if ! scripts/setup.sh >build-setup.log 2>&1; then
    cat build-setup.log
    exit 1
fi
root=sample-device
rm -rf "$root"
python3 scripts/make_sample_device.py "$root" build/servicepack-cleanup

echo
echo "== Device image before the cleanup =="
python3 scripts/show_tree.py "$root"

echo
echo "== The cleanup, started as \\Temp\\ServicePack\\Setup.exe (platform calls traced) =="
status=0
(cd "$root" && COREDLL_TRACE=1 ./Temp/ServicePack/Setup.exe /silent) || status=$?
echo "exit status: $status"

echo
echo "== Device image after the cleanup =="
python3 scripts/show_tree.py "$root"
exit "$status"
