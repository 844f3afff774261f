#!/usr/bin/env bash
# rehearse.sh - rehearses the cleanup on a copy of a device's files.
#
# Usage: scripts/rehearse.sh DEVICE_DIR [--device armv4|armv7] [--as DEVICE_PATH] [--keep] [--trace]
#
# DEVICE_DIR is a copy of a device's files, its registry export registry.reg
# at the top.  The run happens on a copy of DEVICE_DIR in a scratch folder,
# a tmpfs of its own in a private mount namespace where the system allows
# one (not with --keep); DEVICE_DIR itself is only read.  Says what it found
# as the registry and which confinement the run had, then prints each file
# deleted, each move (from and to), each directory created or removed, told
# by file identity.  The scratch folder goes on every exit, SIGINT and
# SIGTERM included.
#   --device KIND      run the device executable (build-ce-KIND) under the
#                      emulator build/ce-run instead of the host build:
#                      armv4 as Compact 7 loads it, on a StrongARM CPU;
#                      armv7 as Compact 2013 loads it, on a Cortex-A8
#   --as DEVICE_PATH   where the program starts from, as the service pack's
#                      installer left it (default \Temp\ServicePack\Setup.exe)
#   --keep             keep the rehearsed copy and say where it is
#   --trace            print the platform calls of the run
# Builds what it needs first (scripts/setup.sh installs missing packages).
# Exit status: 0 when the rehearsal ran and the program ended with 0 (as it
# always should), 1 when the build, the copy or the run failed, 2 for a wrong
# command line or DEVICE_DIR.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

# usage [STATUS] - the comment above as help; exits with STATUS (default 2).
usage() {
    awk 'NR >= 3 && /^#/ { sub(/^# ?/, ""); print } /^set / { exit }' "$0" >&2
    exit "${1:-2}"
}

device_dir=""
device=""
start_as='\Temp\ServicePack\Setup.exe'
options=()
while [ $# -gt 0 ]; do
    case $1 in
    --device)
        [ $# -ge 2 ] || usage
        device=$2
        shift 2
        ;;
    --as)
        [ $# -ge 2 ] || usage
        start_as=$2
        shift 2
        ;;
    --keep | --trace)
        options+=("$1")
        shift
        ;;
    -h | --help) usage 0 ;;
    -*)
        echo "rehearse.sh: unknown option $1" >&2
        usage
        ;;
    *)
        [ -z "$device_dir" ] || usage
        device_dir=$1
        shift
        ;;
    esac
done
[ -n "$device_dir" ] || usage

if [ ! -e "$device_dir" ]; then
    echo "rehearse.sh: $device_dir does not exist; give a folder holding a copy of the device's files" >&2
    exit 2
fi
if [ ! -d "$device_dir" ]; then
    echo "rehearse.sh: $device_dir is not a directory; give a folder holding a copy of the device's files" >&2
    exit 2
fi
case $device in
"") ;;
armv4 | armv7) ;;
*)
    echo "rehearse.sh: --device takes armv4 or armv7, not \"$device\"" >&2
    exit 2
    ;;
esac

# build TARGET... - builds what the rehearsal runs, quietly unless it fails.
log="$repo/build-rehearse.log"
build() {
    echo "Building $* (log: build-rehearse.log) ..."
    if ! "$repo/scripts/setup.sh" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "rehearse.sh: the build failed" >&2
        exit 1
    fi
}

# build_device - the device executables, build-ce-*/servicepack-cleanup.exe.
build_device() {
    echo "Building the device executables (log: build-rehearse.log) ..."
    if ! "$repo/scripts/setup_device.sh" >>"$log" 2>&1; then
        cat "$log" >&2
        echo "rehearse.sh: the device build failed" >&2
        exit 1
    fi
}

if [ -n "$device" ] && ! grep -q "\"ce-$device\"" "$repo/CMakePresets.json"; then
    echo "rehearse.sh: --device needs the device build (preset ce-$device), which this tree does" \
        "not have yet; rehearse with the host build meanwhile" >&2
    exit 2
fi

# REHEARSE_PROGRAM (and REHEARSE_RUNNER with --device): the tests' own builds, used as they are.
program=${REHEARSE_PROGRAM:-}
runner=${REHEARSE_RUNNER:-}
if [ -z "$device" ]; then
    if [ -z "$program" ]; then
        build servicepack-cleanup
        program=$repo/build/servicepack-cleanup
    fi
    run_options=(--program "$program")
else
    if [ -z "$program" ]; then
        build ce-run
        build_device
        program=$repo/build-ce-$device/servicepack-cleanup.exe
        runner=$repo/build/ce-run
    fi
    run_options=(--program "$program" --runner "$runner"
        --label "$device device executable under build/ce-run")
fi

exec python3 "$repo/scripts/rehearse_run.py" "${run_options[@]}" --as "$start_as" \
    "${options[@]}" -- "$device_dir"
