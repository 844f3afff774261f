#!/usr/bin/env bash
# Runs the randomized device-tree property test on many trees and prints the
# figures.  Usage: scripts/property.sh [build dir] [trees] [first seed]
# The build dir must hold a host build (cmake --preset host -B <dir>).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
trees=${2:-3000}
seed=${3:-$(date +%Y%m%d)}
exec python3 tests/property/property_test.py \
    --binary "$build_dir/servicepack-cleanup" --trees "$trees" --seed "$seed"
