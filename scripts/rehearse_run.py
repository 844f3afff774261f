#!/usr/bin/env python3
"""rehearse_run.py - one cleanup run on a copy of a device's files, reported.

Copies DEVICE_DIR (with cp -a: modes, links and hard links as they are) into
a new scratch folder, places the program at the device path given by --as,
runs it there as the device would (the copy is the device root), and prints
what the run changed, told by file identity.  DEVICE_DIR itself is only read.
scripts/rehearse.sh builds the program and calls this; see it for the usage.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import device_place  # noqa: E402
import tree_changes  # noqa: E402

RUN_TIMEOUT_SECONDS = 300


def fail(message):
    print(f"rehearse.sh: {message}", file=sys.stderr)
    sys.exit(1)


def registry_note(device_dir):
    if os.path.isfile(os.path.join(device_dir, "registry.reg")):
        return "registry: registry.reg"
    # Like every name, the registry file's matches ignoring case.
    found = sorted(name for name in os.listdir(device_dir)
                   if name.lower() == "registry.reg" and os.path.isfile(os.path.join(device_dir, name)))
    if found:
        return "registry: " + (found[0] if len(found) == 1 else "one of " + ", ".join(found))
    return ("registry: none, no registry.reg in the folder: the run reads no "
            "CabFile and deletes no cabinet file")


def make_scratch(device_dir):
    scratch = tempfile.mkdtemp(prefix="rehearse.")
    inside = os.path.commonpath([os.path.realpath(scratch), device_dir]) == device_dir
    if inside:
        os.rmdir(scratch)
        fail(f"the scratch folder {scratch} would lie inside {device_dir}; set TMPDIR elsewhere")
    return scratch


def copy_tree(device_dir, root):
    os.mkdir(root)
    copied = subprocess.run(["cp", "-a", "--", device_dir + "/.", root],
                            stderr=subprocess.PIPE, text=True, errors="replace")
    if copied.returncode != 0:
        raise RuntimeError(f"copying {device_dir} failed:\n{copied.stderr}")


def place_program(root, program, device_path):
    """Copies the program into the copy; says how, or raises PlaceError."""
    path, created = device_place.locate(root, device_place.parse_device_path(device_path))
    replaced = os.path.lexists(path)
    if replaced:
        os.unlink(path)
    shutil.copyfile(program, path)
    os.chmod(path, 0o755)
    shown = tree_changes.device_path(tuple(os.path.relpath(path, root).split(os.sep)))
    note = " (in place of the copy's own file of that name)" if replaced else ""
    if created:
        note += f" ({', '.join(created)} created for it)"
    return path, f"the program starts as {shown}{note}"


def run(command, root, scratch, trace):
    env = dict(os.environ)
    env.pop("COREDLL_TRACE", None)
    if trace:
        env["COREDLL_TRACE"] = "1"
    out_path = os.path.join(scratch, "stdout.txt")
    err_path = os.path.join(scratch, "stderr.txt")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        try:
            status = subprocess.run(command, cwd=root, env=env, stdout=out, stderr=err,
                                    stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT_SECONDS).returncode
        except subprocess.TimeoutExpired:
            status = None
    with open(out_path, "rb") as out, open(err_path, "rb") as err:
        return status, out.read().decode(errors="replace"), err.read().decode(errors="replace")


def print_changes(found):
    print("What the run changed:")
    if not found:
        print("  nothing")
    for kind, path, new_path in found:
        line = f"  {kind:<18} {tree_changes.device_path(path)}"
        if new_path is not None:
            line += f" -> {tree_changes.device_path(new_path)}"
        print(line)


def print_output(title, text):
    if text:
        print()
        print(title)
        for line in text.splitlines():
            print("  " + line)


def remove_tree(scratch):
    # Opens every directory of the copy to its owner before removing it;
    # links are neither followed nor changed.
    os.chmod(scratch, 0o700)
    for directory, subdirectories, _ in os.walk(scratch):
        for name in subdirectories:
            path = os.path.join(directory, name)
            if not os.path.islink(path):
                os.chmod(path, 0o700)
    shutil.rmtree(scratch)


def rehearse(args, scratch):
    root = os.path.join(scratch, "device")
    copy_tree(args.device_dir, root)
    program_path, start_note = place_program(root, args.program, args.start_as)
    print(f"  {start_note}")
    print()
    before = tree_changes.snapshot(root)
    command = [os.path.join(".", os.path.relpath(program_path, root))]
    if args.runner:
        command = [args.runner] + command
    status, out, err = run(command, root, scratch, args.trace)
    print_changes(tree_changes.changes(before, tree_changes.snapshot(root)))
    print_output("Platform calls:" if args.trace else "Standard error:", err)
    print_output("Standard output:", out)
    print()
    if status is None:
        print(f"The run did not end within {RUN_TIMEOUT_SECONDS} s and was stopped.")
        return 1
    print(f"exit status: {status}")
    if status != 0:
        print("The program always exits with 0: this run went wrong.")
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the executable to place in the copy")
    parser.add_argument("--runner", help="the emulator that runs the program (ce-run)")
    parser.add_argument("--label", default="host build", help="what runs, for the report")
    parser.add_argument("--as", dest="start_as", default="\\Temp\\ServicePack\\Setup.exe")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--trace", action="store_true")
    parser.add_argument("device_dir")
    args = parser.parse_args()
    args.device_dir = os.path.realpath(args.device_dir)
    args.program = os.path.abspath(args.program)
    if args.runner:
        args.runner = os.path.abspath(args.runner)

    print(f"Rehearsal on a copy of {args.device_dir} ({args.label})")
    print(f"  {registry_note(args.device_dir)}")
    scratch = make_scratch(args.device_dir)
    status = 1
    try:
        status = rehearse(args, scratch)
    except (device_place.PlaceError, RuntimeError, OSError) as error:
        print(f"rehearse.sh: {error}", file=sys.stderr)
    finally:
        if args.keep:
            print(f"The rehearsed copy is kept in {os.path.join(scratch, 'device')}")
        else:
            remove_tree(scratch)
    sys.exit(status)


if __name__ == "__main__":
    main()
