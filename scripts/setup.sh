#!/usr/bin/env bash
# setup.sh [TARGET...] - installs what the host build needs when it is
# missing, then configures the host build and builds the given targets (by
# default all of them: the program at build/servicepack-cleanup, the device
# executables' runner at build/ce-run (Unicorn 2, libunicorn-dev) and the tests).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh cmake ninja-build g++ python3 libgtest-dev libgmock-dev \
    pkg-config libunicorn-dev

# A configure that stopped half-way (a package missing) leaves a cache but no
# build file: configure again until there is one.
[ -f build/build.ninja ] || cmake --preset host >/dev/null
if [ $# -eq 0 ]; then
    cmake --build --preset host -j2
else
    cmake --build --preset host -j2 --target "$@"
fi
