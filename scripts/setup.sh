#!/usr/bin/env bash
# setup.sh - installs what the host build and its tests need, then configures
# and builds the host program at build/servicepack-cleanup and the device
# executables' runner at build/ce-run (Unicorn 2, libunicorn-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh cmake ninja-build g++ python3 libgtest-dev libgmock-dev \
    clang clang-format clang-tidy pkg-config libunicorn-dev

cmake --preset host >/dev/null
cmake --build --preset host -j2
