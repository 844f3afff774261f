#!/usr/bin/env bash
# setup_test.sh - scripts/setup.sh after a configure that stopped half-way.
#
# A package missing at the first configure (here libunicorn-dev, hidden from
# pkg-config) leaves a cache and no build file; once the package is there,
# the next setup.sh must configure again and build.  The script runs on a
# stand-in project of one target, so that no real build is made.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/scripts"
cp "$repo/scripts/setup.sh" "$work/scripts/"
cp "$repo/CMakePresets.json" "$work/"
printf '#!/bin/sh\n' >"$work/scripts/install_packages.sh"
chmod +x "$work/scripts/install_packages.sh"
cat >"$work/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(stand_in NONE)
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED unicorn>=2)
add_custom_target(stand_in ALL COMMAND ${CMAKE_COMMAND} -E touch built)
CMAKE

if PKG_CONFIG_LIBDIR=/nonexistent "$work/scripts/setup.sh" >/dev/null 2>&1 ||
    [ ! -f "$work/build/CMakeCache.txt" ] || [ -f "$work/build/build.ninja" ]; then
    echo "FAIL: the first configure was to stop half-way" >&2
    exit 1
fi
"$work/scripts/setup.sh" >/dev/null || { echo "FAIL: setup.sh did not recover" >&2; exit 1; }
[ -f "$work/build/built" ] || { echo "FAIL: nothing was built" >&2; exit 1; }
echo "setup.sh recovers from a failed configure"
