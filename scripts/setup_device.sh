#!/usr/bin/env bash
# setup_device.sh - installs what the device build needs when it is missing
# (LLVM 16's clang, lld and tools; python3-pefile) and builds both device
# executables, build-ce-armv4i/ and build-ce-armv7/servicepack-cleanup.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh clang-16 lld-16 llvm-16 python3-pefile
for cpu in armv4i armv7; do
    [ -f build-ce-$cpu/build.ninja ] || cmake --preset ce-$cpu >/dev/null
    cmake --build --preset ce-$cpu -j2
done
