#!/usr/bin/env bash
# lint.sh - checks formatting (.clang-format) and clang-tidy's bugprone checks
# (.clang-tidy) over the program's and the host layer's sources, and that
# src/'s includes form no cycle and run only down the host layer's folders
# (check_includes.py); prints the findings and errors when it fails.
# Installs clang-format and clang-tidy when missing; needs the host build's
# compile_commands.json (scripts/setup.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_packages.sh clang-format clang-tidy
if [ ! -f build/compile_commands.json ]; then
    echo "lint.sh: build/compile_commands.json is missing; run scripts/setup.sh first" >&2
    exit 1
fi

python3 scripts/check_includes.py

sources=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'tools/*.cpp' 'tools/*.h')
if ! clang-format --dry-run -Werror $sources; then
    echo "lint.sh: the places above differ from .clang-format; clang-format -i FILE mends a file" >&2
    exit 1
fi
echo "clang-format: $(echo "$sources" | wc -w) files formatted"

# The device start-up (src/coredll/ce/) is only ever compiled for the device.
cpp_sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' ':!src/coredll/ce/*')
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Findings go to standard output, compiler errors to standard error; the
# "N warnings generated" counts of suppressed warnings are left out.
if ! clang-tidy -p build --quiet $cpp_sources >"$log" 2>&1; then
    grep -v '^[0-9]* warnings\? generated\.$' "$log" >&2 || true
    echo "lint.sh: clang-tidy found the problems above" >&2
    exit 1
fi
echo "clang-tidy: bugprone checks clean on $(echo "$cpp_sources" | wc -w) files"

# The device sources once more as the Windows CE builds see them: the
# device's own declarations (src/coredll/ce/) in place of the host's.  Those
# builds compile with clang -cc1, which a compilation database cannot hold.
device_sources="src/main.cpp $(git ls-files 'src/cleanup/*.cpp' 'src/coredll/ce/*.cpp')"
if ! clang-tidy --quiet $device_sources -- --target=thumbv7-windows-msvc -std=c++03 \
    -ffreestanding -nostdinc -DUNDER_CE -DCOREDLL_WITHOUT_SDK -DUNICODE -D_UNICODE \
    -Isrc -Isrc/coredll >"$log" 2>&1; then
    grep -v '^[0-9]* warnings\? generated\.$' "$log" >&2 || true
    echo "lint.sh: clang-tidy found the problems above in the device build's view" >&2
    exit 1
fi
echo "clang-tidy: bugprone checks clean on the $(echo "$device_sources" | wc -w) device sources as the device build sees them"
