#!/usr/bin/env bash
# test_windows.sh - the Windows build and its checks under Wine.
#
# Installs mingw-w64 and Wine when they are missing, cross-builds the program
# for Windows x86_64 (build-windows/servicepack-cleanup.exe, or the directory
# named by WINDOWS_BUILD_DIR), checks its import table, and plays the scenario
# suite on it under Wine in a fresh prefix in a temporary directory, served by
# one persistent wineserver that is ended by its own pid at the end.
#
# When mingw-w64 or Wine cannot be had, it says plainly that the Windows build
# was not checked and exits 0, except under CI (CI=true), where that fails.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
build_dir=${WINDOWS_BUILD_DIR:-build-windows}

# not_checked REASON - the Windows build cannot be checked here.
not_checked() {
    if [ "${CI:-}" = "true" ]; then
        echo "test_windows.sh: $1; under CI the Windows build must be checked." >&2
        exit 1
    fi
    echo "test_windows.sh: $1."
    echo "THE WINDOWS BUILD WAS NOT CHECKED (no mingw-w64 or Wine on this machine)."
    exit 0
}

# have_tools - whether the cross compiler and Wine's commands are all there.
have_tools() {
    command -v x86_64-w64-mingw32-g++-win32 >/dev/null &&
        command -v x86_64-w64-mingw32-objdump >/dev/null &&
        command -v wine >/dev/null && command -v wineserver >/dev/null &&
        command -v wineboot >/dev/null
}

if ! have_tools; then
    scripts/install_packages.sh g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 wine ||
        not_checked "mingw-w64 or Wine could not be installed"
    have_tools || not_checked "mingw-w64 or Wine is still missing after installing"
fi

echo "== Windows build ($build_dir) =="
if [ "$build_dir" = build-windows ]; then
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j2
else
    cmake --preset windows -B "$build_dir" >/dev/null
    cmake --build "$build_dir" -j2
fi

echo "== Import table =="
python3 tests/windows/check_imports_test.py
python3 tests/windows/check_imports.py "$build_dir"

echo "== Scenarios under Wine =="
. scripts/wine_prefix.sh
start_wine_prefix servicepack-wine
echo "Wine prefix ready after $((SECONDS - started))s ($(wine --version 2>/dev/null))"

python3 tests/scenarios/run_scenarios.py --build wine \
    --program "$build_dir/servicepack-cleanup.exe" --prefix "$WINEPREFIX"

echo "Windows build checked in $((SECONDS - started))s"
