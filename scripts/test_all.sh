#!/usr/bin/env bash
# test_all.sh - every test, from a fresh machine: installs what is missing,
# builds, and runs the host suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the lint checks, the property test on a few
# thousand random trees, the fuzz targets for a minute each, a smoke run of
# the benchmark, the device executables (built, checked, and run through
# ce-run on the scenarios), the Windows build's scenarios under Wine, and the
# differential test of the host layer against Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n==== %s ====\n' "$*"; }

step "Host build and tests"
scripts/setup.sh
ctest --preset host -j2

step "Host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j2
ctest --preset sanitize -j2

step "Formatting and clang-tidy"
scripts/lint.sh

step "Property test: 3,000 randomized device trees against the model"
# A fixed seed keeps CI repeatable; scripts/property.sh build N SEED explores others.
scripts/property.sh build 3000 20261207

step "Fuzzing: each libFuzzer target for 60 s"
scripts/fuzz.sh 60

step "Benchmark smoke run: 1,000 files"
scripts/bench_smoke.sh --build-dir build

step "Windows CE device executables (ARMv4, ARMv7): build and image check"
scripts/test_device_builds.sh

step "Device executables through ce-run: the scenarios, the runner's checks, the figures"
scripts/test_device.sh

step "Windows build, its import table and the scenarios under Wine"
scripts/test_windows.sh

step "Differential test: 400 random cases asked of the host layer and of Wine"
# A fixed seed keeps CI repeatable; scripts/differential.sh N SEED explores others.
scripts/differential.sh 400 20261208
