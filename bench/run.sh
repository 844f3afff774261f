#!/usr/bin/env bash
# run.sh - benchmarks the cleanup's heavy part, emptying "\Temp\ServicePackOld",
# against two find commands on the same files, and checks the performance goals:
#   find-perm: `find DIR -maxdepth 1 -type f -perm /222 -delete`, the same work
#              as the program (each file's mode read, then the file unlinked);
#   find:      `find DIR -maxdepth 1 -type f -delete`, the floor (one unlink per
#              file, the type taken from the directory read);
#   same-calls: bench/same_calls.c, the program's own system calls for the
#              work and nothing else, timed only (what the design costs at
#              the least, so that the share of the program's own work shows).
#
#   bench/run.sh [--sizes 1000,10000,100000] [--runs N] [--build-dir DIR]
#                [--dir DIR] [--smoke]
#
# For each size it lays out one template device image with that many empty
# files in Temp/ServicePackOld (plus an empty pack directory, a registry.reg
# naming a cabinet file and that file, so that the whole run is exercised),
# then measures on identical fresh copies of it (cp -a, never timed):
#   - wall time of the program, of both finds and of same-calls (hyperfine, whose --prepare
#     makes the copy), in N rounds of one run each, the order of the commands
#     rotating from round to round, so that a change in the machine's load
#     (other builds) weighs on all alike;
#   - system calls per entry (strace -c -f): (calls of a run on n files minus
#     calls of the same run on an image without leftovers) / n;
#   - peak resident memory (/usr/bin/time -v, "Maximum resident set size");
#   - heap allocations (heaptrack's "calls to allocation functions") at 10
#     entries and at the largest size (valgrind 3.19 cannot run the program: it
#     does not know openat2);
#   - whether the device code's library imports an allocator at all (nm).
# Every measuring run is checked to have left no file behind in the old-pack
# directory, so that a run that deletes nothing cannot pass for a fast one.
#
# The table (Markdown, with the machine and the date) goes to stdout and to
# bench/out/results-<date>.md; the raw measurements stay in bench/out/raw-<date>/.
# Exit status 1 when a checked goal is missed.  --smoke (1,000 files, a few
# runs) checks only the structural goals and reports the wall-time ratio.
#
# Images live in a fresh mktemp directory inside DIR (default: /dev/shm when it
# is a writable tmpfs, else $TMPDIR or /tmp) that is removed on exit.  On tmpfs
# an unlink costs no journal or disk time, so the layer's own overhead shows
# fully and the figures are steady; `--dir /tmp` measures on the disk instead.
# The program runs with an image as its current directory, its device root,
# and nothing else is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

sizes="1000,10000,100000"
runs=15
build_dir=build-bench
smoke=0
images_dir=${TMPDIR:-/tmp}
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && [ -w /dev/shm ]; then
    images_dir=/dev/shm
fi
usage() {
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --sizes) sizes=${2:?}; shift 2 ;;
    --runs) runs=${2:?}; shift 2 ;;
    --build-dir) build_dir=${2:?}; shift 2 ;;
    --dir) images_dir=${2:?}; shift 2 ;;
    --smoke) smoke=1; shift ;;
    -h | --help) usage ;;
    *) echo "run.sh: unknown option $1" >&2; usage ;;
    esac
done
IFS=', ' read -r -a size_list <<<"$sizes"
for n in "${size_list[@]}"; do
    [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: a size is a positive count: $n" >&2; exit 2; }
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs takes a positive count" >&2; exit 2; }

scripts/install_packages.sh cmake ninja-build g++ python3 hyperfine strace heaptrack time binutils

# The program, built without the test suite unless the build dir already has it.
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake --preset host -B "$build_dir" -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build_dir" -j2 --target servicepack-cleanup >/dev/null
program=$(realpath "$build_dir/servicepack-cleanup")
cleanup_library=$(realpath "$build_dir/libcleanup.a")

stamp=$(date -u +%Y%m%dT%H%M%SZ)
mkdir -p bench/out
raw="$repo/bench/out/raw-$stamp"
mkdir -p "$raw"
work=$(mktemp -d "$images_dir/cleanup-bench.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
trap 'exit 130' INT TERM

# lay_out_template N DIR - a device image with N leftovers in the old-pack
# directory.  Names are those of an old pack's leftovers: 8.3-sized, distinct.
lay_out_template() {
    local n=$1 dir=$2
    mkdir -p "$dir/Temp/ServicePackOld" "$dir/Temp/ServicePack" "$dir/My Documents"
    printf 'MSCF' >"$dir/My Documents/pack.cab"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13]\r\n"CabFile"="\\\\My Documents\\\\pack.cab"\r\n' \
        >"$dir/registry.reg"
    if [ "$n" -gt 0 ]; then
        (cd "$dir/Temp/ServicePackOld" && seq -f 'OLD%06g.TMP' 1 "$n" | xargs touch --)
    fi
}

# fresh_copy TEMPLATE IMAGE - IMAGE becomes an identical fresh copy of TEMPLATE.
fresh_copy() {
    rm -rf -- "$2"
    cp -a -- "$1" "$2"
}

# check_emptied IMAGE WHAT - fails when a regular file is left in the old-pack
# directory of IMAGE after WHAT ran on it.
check_emptied() {
    local left
    left=$(find "$1/Temp/ServicePackOld" -maxdepth 1 -type f | wc -l)
    if [ "$left" -ne 0 ]; then
        echo "run.sh: $2 left $left files in Temp/ServicePackOld: its figures would be meaningless" >&2
        exit 1
    fi
}

# The program's own system calls for the same work and nothing else: the
# least its design can cost (bench/same_calls.c).
same_calls="$work/same-calls"
cc -O2 -o "$same_calls" bench/same_calls.c

find_floor="find Temp/ServicePackOld -maxdepth 1 -type f -delete"
find_perm="find Temp/ServicePackOld -maxdepth 1 -type f -perm /222 -delete"

# measure_once LABEL TEMPLATE TOOL... - runs the program (LABEL cleanup) or a
# find (LABEL find or find-perm) on a fresh copy of TEMPLATE under TOOL (strace, time, ...),
# from inside the copy, then checks that the copy was emptied.
measure_once() {
    local label=$1 template=$2 image="$work/image"
    shift 2
    local command=("$program")
    case "$label" in
    find) read -r -a command <<<"$find_floor" ;;
    find-perm) read -r -a command <<<"$find_perm" ;;
    esac
    fresh_copy "$template" "$image"
    if ! (cd "$image" && "$@" "${command[@]}" </dev/null >/dev/null 2>>"$raw/measure.log"); then
        echo "run.sh: $label under $1 failed (see $raw/measure.log)" >&2
        exit 1
    fi
    check_emptied "$image" "$label"
    rm -rf -- "$image"
}

lay_out_template 0 "$work/template-0"
lay_out_template 10 "$work/template-10"
strace_command=(strace -f -c -U name,calls,errors -o)
for label in cleanup find find-perm; do
    measure_once "$label" "$work/template-0" "${strace_command[@]}" "$raw/strace-$label-0.txt"
done

largest=0
for n in "${size_list[@]}"; do
    [ "$n" -gt "$largest" ] && largest=$n
    template="$work/template-$n"
    [ -d "$template" ] || lay_out_template "$n" "$template"
    echo "== $n files =="

    # Wall time: hyperfine runs from inside the image directory, whose content
    # the preparation replaces with a fresh copy before every run.  Round 0
    # warms the caches and is not counted.
    mkdir -p "$work/timed"
    for round in $(seq 0 "$runs"); do
        commands=(-n cleanup "$program" -n find "$find_floor" -n find-perm "$find_perm"
            -n same-calls "$same_calls")
        shift_by=$((round % 4 * 3))
        commands=("${commands[@]:shift_by}" "${commands[@]:0:shift_by}")
        result="$raw/hyperfine-$n-round$round.json"
        [ "$round" -gt 0 ] || result="$raw/hyperfine-$n-warmup.json"
        (
            cd "$work/timed"
            hyperfine -N --style none --runs 1 \
                --prepare "sh -c 'rm -rf -- Temp \"My Documents\" registry.reg && cp -a -- \"$template/.\" .'" \
                --export-json "$result" "${commands[@]}" >/dev/null
        )
        printf '.'
    done
    echo
    check_emptied "$work/timed" "the timed runs"
    rm -rf -- "$work/timed"

    for label in cleanup find find-perm; do
        measure_once "$label" "$template" "${strace_command[@]}" "$raw/strace-$label-$n.txt"
        measure_once "$label" "$template" /usr/bin/time -v -o "$raw/rss-$label-$n.txt"
    done
done

# Heap: at 10 entries and at the largest size, so that any allocation per
# entry shows as a difference in the count.
for n in 10 "$largest"; do
    measure_once cleanup "$work/template-$n" heaptrack -o "$raw/heaptrack-$n"
    heaptrack_print -f "$raw/heaptrack-$n".[zg]* >"$raw/heaptrack-$n.txt" 2>&1
done
nm -u -C "$cleanup_library" >"$raw/cleanup-imports.txt"

{
    echo "cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    echo "cores=$(nproc)"
    echo "kernel=$(uname -sr)"
    echo "filesystem=$(stat -f -c %T "$work")"
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- src 2>/dev/null || echo '+changes')"
    echo "build=$(grep -m1 CMAKE_BUILD_TYPE: "$build_dir/CMakeCache.txt" | cut -d= -f2)"
    echo "runs=$runs"
    echo "sizes=${size_list[*]}"
    echo "heap_sizes=10 $largest"
    echo "smoke=$smoke"
} >"$raw/machine.txt"

status=0
python3 bench/report.py "$raw" >"bench/out/results-$stamp.md" || status=$?
cat "bench/out/results-$stamp.md"
echo
echo "Raw measurements: bench/out/raw-$stamp/"
exit "$status"
