#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of
# its seed corpus.  Prints the executions per target; fails on any crash,
# leaving the reproducer in the build dir's fuzz-out/<target>/.
#
# Usage: scripts/fuzz.sh [seconds per target]   (default 60)
# Environment: FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}
targets=(fuzz_registry_export fuzz_directory_chains fuzz_device_path fuzz_recorded_cabinet)

# The installed clang (clang++, else the newest clang++-N; the distribution's
# default clang when there is none) and the libFuzzer runtime of that same
# version, whose package Debian names after the version (libclang-rt-N-dev).
clang=$(command -v clang++ || compgen -c clang++- | grep -x 'clang++-[0-9]*' | sort -t- -k2 -n | tail -1 || true)
if [ -z "$clang" ]; then
    scripts/install_packages.sh clang
    clang=$(command -v clang++)
fi
clang=$(command -v "$clang")
runtime() {
    local machine
    machine=$("$clang" -dumpmachine)
    "$clang" -print-file-name="libclang_rt.fuzzer-${machine%%-*}.a"
}
if [ ! -f "$(runtime)" ]; then
    version=$("$clang" -dumpversion)
    scripts/install_packages.sh "libclang-rt-${version%%.*}-dev"
fi
if [ ! -f "$(runtime)" ]; then
    echo "fuzz.sh: $clang has no libFuzzer runtime ($(runtime) not found)" >&2
    exit 1
fi
echo "fuzz: $("$clang" --version | head -1), runtime $(runtime)"

cmake --preset fuzz -B "$build_dir" -DCMAKE_CXX_COMPILER="$clang" >/dev/null
cmake --build "$build_dir" -j "$jobs" --target "${targets[@]}"

out="$build_dir/fuzz-out"
rm -rf "$out"
mkdir -p "$out"

# The targets' temporary device roots, removed whatever happens to them.
scratch_parent=/dev/shm
[ -w "$scratch_parent" ] || scratch_parent=/tmp
FUZZ_SCRATCH=$(mktemp -d "$scratch_parent/fuzz-scratch.XXXXXX")
export FUZZ_SCRATCH
trap 'rm -rf --one-file-system "$FUZZ_SCRATCH"' EXIT

# run_target NAME - fuzzes one target for $seconds on a scratch corpus.
run_target() {
    local name=$1
    local work="$out/$name"
    mkdir -p "$work/corpus"
    cp tests/fuzz/corpus/"$name"/* "$work/corpus/"
    if [ -d tests/fuzz/regressions/"$name" ]; then
        cp tests/fuzz/regressions/"$name"/* "$work/corpus/"
    fi
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix=./)
    if [ -f tests/fuzz/"$name".dict ]; then
        options+=(-dict="$PWD/tests/fuzz/$name.dict")
    fi
    (cd "$work" && ASAN_OPTIONS=detect_leaks=1 "../../$name" corpus "${options[@]}" >log.txt 2>&1)
}

status=0
pids=()
for name in "${targets[@]}"; do
    run_target "$name" &
    pids+=($!)
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        sleep 1
    done
done
for index in "${!targets[@]}"; do
    if ! wait "${pids[$index]}"; then
        status=1
    fi
done

# findings NAME - the reproducers a target's run left (crash, leak, timeout,
# out-of-memory), one per line.
findings() {
    find "$out/$1" -maxdepth 1 \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) -print
}

echo "fuzz: ${seconds}s per target"
passed=0
failed=0
for name in "${targets[@]}"; do
    log="$out/$name/log.txt"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    found=$(findings "$name" | wc -l)
    echo "    $name: ${runs:-?} executions, $found findings"
    if [ "$found" -ne 0 ] || [ -z "$runs" ]; then
        failed=$((failed + 1))
        status=1
        findings "$name"
        tail -40 "$log"
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
exit $status
