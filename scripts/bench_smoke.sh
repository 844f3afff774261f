#!/usr/bin/env bash
# bench_smoke.sh [--build-dir DIR] - a small, fast run of the benchmark
# (bench/run.sh) on 1,000 files, so that it cannot rot unnoticed.
#
# Fails when a structural goal is missed: system calls per entry, heap
# allocations that grow with the number of entries, an allocator in the
# device code, or peak resident memory.  The wall-time ratio against find is
# only reported: at 1,000 files it is too noisy to judge.
set -euo pipefail
cd "$(dirname "$0")/.."
exec bench/run.sh --smoke --sizes 1000 --runs 3 "$@"
