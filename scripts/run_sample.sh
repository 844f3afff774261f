#!/usr/bin/env bash
# run_sample.sh - the main job: builds the host program, lays out a fresh
# sample device image in sample-device/, shows it, runs the cleanup on it
# with the platform calls traced, and shows the image afterwards.  Then the
# ARM device executables run under the emulator build/ce-run on fresh copies
# of the same image and must change it exactly as the host build did.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Setting up and building (log: build-setup.log) ..."
if ! { scripts/setup.sh servicepack-cleanup ce-run && scripts/setup_device.sh; } >build-setup.log 2>&1; then
    cat build-setup.log
    exit 1
fi
root=sample-device
rm -rf "$root"
python3 scripts/make_sample_device.py "$root" build/servicepack-cleanup

echo
echo "== Device image before the cleanup =="
python3 scripts/show_tree.py "$root"

echo
echo "== The cleanup, started as \\Temp\\ServicePack\\Setup.exe (platform calls traced) =="
status=0
(cd "$root" && COREDLL_TRACE=1 ./Temp/ServicePack/Setup.exe /silent) || status=$?
echo "exit status: $status"

echo
echo "== Device image after the cleanup =="
python3 scripts/show_tree.py "$root"
[ "$status" -eq 0 ] || exit "$status"

echo
echo "== The same cleanup by the ARM device executables under build/ce-run =="
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python3 scripts/make_sample_device.py "$scratch/image" build/servicepack-cleanup
# report OPTION... - the rehearsal's report of one run on a fresh copy of the
# image, without its first line (which names what ran).
report() {
    python3 scripts/rehearse_run.py "$@" "$scratch/image" | tail -n +2 || true
}
host=$(report --program build/servicepack-cleanup)
echo "The host build:"
echo "$host"
for kind in armv4 armv7; do
    executable=build-ce-$kind/servicepack-cleanup.exe
    device=$(report --program "$executable" --runner build/ce-run)
    if [ "$device" = "$host" ]; then
        echo "$kind ($executable, $(stat -c %s "$executable") bytes): the same report, so the same tree afterwards"
    else
        echo "$kind ($executable): a DIFFERENT report from the host build's:"
        diff <(echo "$host") <(echo "$device") || true
        status=1
    fi
done
exit "$status"
