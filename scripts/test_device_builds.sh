#!/usr/bin/env bash
# test_device_builds.sh - the Windows CE ARM device executables and their
# image check.
#
# scripts/setup_device.sh installs what a fresh machine lacks (Debian's
# clang-16, lld-16, llvm-16, python3-pefile and python3-pyelftools, for the
# system interpreter) and builds both presets; scripts/setup.sh builds
# ce-run, whose loader model the check asks.  Then each image must load as
# every CE version it is for, and its machine, versions, imports, sections
# and (ARMv4) instructions are checked, after the check's own fault cases
# and the image writer's refusals.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh cmake ninja-build
scripts/setup_device.sh
scripts/setup.sh ce-run

echo "== The image check's fault cases and the image writer's refusals =="
/usr/bin/python3 tests/device_build/check_device_image_test.py
/usr/bin/python3 tests/device_build/ce_elf_to_pe_test.py

for build in armv4 armv7; do
    image="build-ce-$build/servicepack-cleanup.exe"
    echo "== $image: $(stat -c %s "$image") bytes =="
    /usr/bin/python3 tests/device_build/check_device_image.py --runner build/ce-run "$build" "$image"
done
