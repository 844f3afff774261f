#!/usr/bin/env bash
# setup_test.sh - scripts/setup.sh after a configure that stopped for a missing
# package (libunicorn-dev hidden from pkg-config), leaving a cache and no build
# file: the next run must configure again and build.  Played on a stand-in
# project of one target, so that no real build is made.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/scripts"
cp "$repo/scripts/setup.sh" "$work/scripts/" && cp "$repo/CMakePresets.json" "$work/"
printf '#!/bin/sh\n' >"$work/scripts/install_packages.sh"
chmod +x "$work/scripts/install_packages.sh"
printf '%s\n' 'cmake_minimum_required(VERSION 3.25)' 'project(stand_in NONE)' \
    'find_package(PkgConfig REQUIRED)' 'pkg_check_modules(UNICORN REQUIRED unicorn>=2)' \
    'add_custom_target(stand_in ALL COMMAND ${CMAKE_COMMAND} -E touch built)' \
    >"$work/CMakeLists.txt"

PKG_CONFIG_LIBDIR=/nonexistent "$work/scripts/setup.sh" >/dev/null 2>&1 && exit 1
test -f "$work/build/CMakeCache.txt" && test ! -f "$work/build/build.ninja" || exit 1
"$work/scripts/setup.sh" >/dev/null
test -f "$work/build/built"
