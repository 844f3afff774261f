#!/usr/bin/env bash
# test_device_builds.sh - the Windows CE ARM device executables and their
# image check.
#
# scripts/setup_device.sh installs what a fresh machine lacks (Debian's
# clang-16, lld-16, llvm-16 and python3-pefile, for the system interpreter)
# and builds both presets; then each image's machine, subsystem, checksum,
# entry, imports, sections and base relocations are checked, after the
# check's own fault cases.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh cmake ninja-build
scripts/setup_device.sh

echo "== The image check's fault cases =="
/usr/bin/python3 tests/device_build/check_device_image_test.py

for cpu in armv7 armv5te; do
    image="build-ce-$cpu/servicepack-cleanup.exe"
    echo "== $image: $(stat -c %s "$image") bytes =="
    /usr/bin/python3 tests/device_build/check_device_image.py "$cpu" "$image"
done
