#!/usr/bin/env bash
# lint.sh - checks formatting (.clang-format) and clang-tidy's bugprone checks
# (.clang-tidy) over the program's and the host layer's sources.
# Needs the host build's compile_commands.json (scripts/setup.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."

sources=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'tools/*.cpp' 'tools/*.h')
clang-format --dry-run -Werror $sources
echo "clang-format: $(echo "$sources" | wc -w) files formatted"

cpp_sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp')
clang-tidy -p build --quiet $cpp_sources 2>/dev/null
echo "clang-tidy: bugprone checks clean on $(echo "$cpp_sources" | wc -w) files"
