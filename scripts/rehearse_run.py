#!/usr/bin/env python3
"""rehearse_run.py - one cleanup run on a copy of a device's files, reported.

Copies DEVICE_DIR (with cp -a: modes, links and hard links as they are) into
a new scratch folder, places the program at the device path given by --as,
runs it there as the device would (the copy is the device root), and prints
what the run changed, told by file identity.  DEVICE_DIR itself is only read.
Where the system allows, the whole rehearsal runs again in a private mount
namespace (a user namespace too when not root) with the scratch folder a
tmpfs of its own: nothing can then be moved out of the copy (EXDEV).
scripts/rehearse.sh builds the program and calls this; see it for the usage.
"""
import argparse
import ctypes
import os
import shutil
import signal
import stat
import struct
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


NO_CABINET = "the run reads no CabFile and deletes no cabinet file"

KINDS = ((stat.S_ISDIR, "a directory"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISSOCK, "a socket"),
         (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device"))


# The host layer's largest registry file (src/coredll/host/api/registry_api.cpp).
REGISTRY_FILE_LIMIT = 64 * 1024 * 1024


def open_in_root(root_fd, name, flags):
    """Opens `name` as the host layer opens every path: openat2 from the
    root with RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS, so that a symbolic
    link leads only to places inside the root.  Raises OSError."""
    openat2, resolve_in_root, resolve_no_magiclinks = 437, 0x10, 0x02  # every architecture's
    how = struct.pack("QQQ", flags, 0, resolve_in_root | resolve_no_magiclinks)
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.syscall(openat2, root_fd, name.encode(), how, ctypes.c_size_t(len(how)))
    if fd < 0:
        number = ctypes.get_errno()
        raise OSError(number, os.strerror(number))
    return fd


def registry_note(device_dir):
    """What the run finds at the registry's place, told as the host layer
    decides it, never waiting on it: a symbolic link followed inside the
    folder only, then a regular file of at most 64 MiB that opens for reading."""
    # Like every name, the registry file's is matched ignoring case: the
    # exact name first, else the first the directory lists.
    if os.path.lexists(os.path.join(device_dir, "registry.reg")):
        name = "registry.reg"
    else:
        found = [name for name in os.listdir(device_dir) if name.lower() == "registry.reg"]
        if not found:
            return f"registry: none, no registry.reg in the folder: {NO_CABINET}"
        name = found[0]
    link = stat.S_ISLNK(os.lstat(os.path.join(device_dir, name)).st_mode)
    shown = f"{name} is a symbolic link to" if link else f"{name} is"
    root = os.open(device_dir, os.O_PATH | os.O_DIRECTORY)
    try:
        try:
            # O_PATH: what the name leads to, without opening it.
            found = open_in_root(root, name, os.O_PATH)
        except OSError as error:
            return f"registry: none, {shown} nothing inside the copy ({error.strerror}): {NO_CABINET}"
        info = os.fstat(found)
        os.close(found)
        for is_kind, kind in KINDS:
            if is_kind(info.st_mode):
                return f"registry: none, {shown} {kind}, not a regular file: {NO_CABINET}"
        if info.st_size > REGISTRY_FILE_LIMIT:
            return f"registry: none, {name} is larger than 64 MiB: {NO_CABINET}"
        try:
            os.close(open_in_root(root, name, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY))
        except OSError as error:
            return f"registry: none, {name} cannot be read ({error.strerror}): {NO_CABINET}"
    finally:
        os.close(root)
    return f"registry: {name}, a symbolic link to a file inside the copy" if link else f"registry: {name}"


def landlock_abi():
    """The kernel's Landlock ABI version; 0 without Landlock."""
    libc = ctypes.CDLL(None, use_errno=True)
    landlock_create_ruleset = 444  # the same number on every architecture
    version = libc.syscall(landlock_create_ruleset, None, ctypes.c_size_t(0), ctypes.c_uint32(1))
    return max(version, 0)


def confinement_note(own_file_system):
    abi = landlock_abi()
    if own_file_system:
        note = ("confinement: the copy is a file system of its own (a tmpfs in a private "
                "mount namespace): nothing can be moved out of it")
        return note + (f"; Landlock ABI {abi} also refuses every change outside it"
                       if abi >= 2 else "")
    if abi >= 2:
        return f"confinement: Landlock ABI {abi} refuses every change outside the copy"
    return ("confinement: paths resolved inside the copy, each change's directory opened afresh "
            f"right before it ({'Landlock ABI 1' if abi else 'no Landlock'} here); a directory "
            "moved out by another process in that last instant is changed where it went")


def make_scratch(device_dir):
    scratch = tempfile.mkdtemp(prefix="rehearse.")
    inside = os.path.commonpath([os.path.realpath(scratch), device_dir]) == device_dir
    if inside:
        os.rmdir(scratch)
        fail(f"the scratch folder {scratch} would lie inside {device_dir}; set TMPDIR elsewhere")
    return scratch


def copy_tree(device_dir, root, keep_owners):
    os.mkdir(root)
    # In a user namespace the owners other than the user cannot be kept.
    owners = [] if keep_owners else ["--no-preserve=ownership"]
    copied = subprocess.run(["cp", "-a", *owners, "--", device_dir + "/.", root],
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
    print(f"  {confinement_note(args.namespace is not None)}")
    root = os.path.join(scratch, "device")
    copy_tree(args.device_dir, root, args.namespace != "user")
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


# The status of a run inside a namespace that could not mount its tmpfs.
NO_OWN_FILE_SYSTEM = 3


def rehearse_in_namespace(argv, scratch):
    """Runs this script again in a private mount namespace (and a user
    namespace when not root), the copy on a tmpfs mounted on `scratch` that
    vanishes with it.  None when this system allows no such namespace."""
    kind = "mount" if os.geteuid() == 0 else "user"
    user = [] if kind == "mount" else ["--user", "--map-root-user"]
    command = ["unshare", *user, "--mount", "--propagation", "private", sys.executable,
               os.path.abspath(__file__), "--namespace", kind, "--scratch", scratch, *argv]
    sys.stdout.flush()
    try:
        inner = subprocess.Popen(command, stderr=subprocess.PIPE, text=True, errors="replace")
    except OSError:
        return None
    try:
        errors = inner.communicate()[1]
    except KeyboardInterrupt:
        # Stopped: the inner run stops its program in turn.
        inner.terminate()
        inner.wait()
        raise
    if inner.returncode == NO_OWN_FILE_SYSTEM or errors.startswith("unshare: "):
        return None
    sys.stderr.write(errors)
    return inner.returncode


def stop(signal_number, _frame):
    raise KeyboardInterrupt(signal.Signals(signal_number).name)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True, help="the executable to place in the copy")
    parser.add_argument("--runner", help="the emulator that runs the program (ce-run)")
    parser.add_argument("--label", default="host build", help="what runs, for the report")
    parser.add_argument("--as", dest="start_as", default="\\Temp\\ServicePack\\Setup.exe")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--trace", action="store_true")
    parser.add_argument("--namespace", choices=("mount", "user"), help=argparse.SUPPRESS)
    parser.add_argument("--scratch", help=argparse.SUPPRESS)
    parser.add_argument("device_dir")
    argv = sys.argv[1:]
    args = parser.parse_args()
    args.device_dir = os.path.realpath(args.device_dir)
    args.program = os.path.abspath(args.program)
    if args.runner:
        args.runner = os.path.abspath(args.runner)

    # The scratch folder goes on every exit, on SIGINT, SIGTERM and SIGHUP too.
    for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signal_number, stop)
    if args.namespace:
        # Inside the namespace: the copy goes on a tmpfs of its own, which
        # goes with the namespace.
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0700", "rehearse",
                                  args.scratch], stderr=subprocess.DEVNULL)
        if mounted.returncode != 0:
            sys.exit(NO_OWN_FILE_SYSTEM)
        try:
            sys.exit(rehearse(args, args.scratch))
        except (device_place.PlaceError, RuntimeError, OSError) as error:
            print(f"rehearse.sh: {error}", file=sys.stderr)
        except KeyboardInterrupt:
            pass
        sys.exit(1)

    print(f"Rehearsal on a copy of {args.device_dir} ({args.label})")
    print(f"  {registry_note(args.device_dir)}")
    scratch = make_scratch(args.device_dir)
    status = 1
    try:
        # A kept copy must outlive the namespace: it stays on disk.
        status = None if args.keep else rehearse_in_namespace(argv, scratch)
        if status is None:
            status = rehearse(args, scratch)
    except (device_place.PlaceError, RuntimeError, OSError) as error:
        print(f"rehearse.sh: {error}", file=sys.stderr)
    except KeyboardInterrupt as interrupt:
        print(f"rehearse.sh: stopped ({interrupt})", file=sys.stderr)
        status = 130
    finally:
        if args.keep:
            print(f"The rehearsed copy is kept in {os.path.join(scratch, 'device')}")
        else:
            remove_tree(scratch)
    sys.exit(status)


if __name__ == "__main__":
    main()
