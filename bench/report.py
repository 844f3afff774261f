#!/usr/bin/env python3
"""report.py RAW_DIR - the benchmark's Markdown table and goal checks.

Reads the raw measurements that bench/run.sh leaves in RAW_DIR (hyperfine
JSON, strace -c summaries, /usr/bin/time -v reports, heaptrack_print summaries,
the device library's undefined symbols and machine.txt) and prints the
performance section: the machine and date, one row per size, and every goal
with its figures and PASS or FAIL.  Exits 1 when a checked goal is missed,
2 when a measurement is missing or unreadable.

Two finds are measured: "find-perm" (-perm /222: each file's mode read before
it is deleted, the program's own work) and "find" (the floor: one unlink per
file).  The wall-time goal is against find-perm at 100,000 files only, and
never in a smoke run, where the ratio is reported but too noisy at 1,000 files
to judge; the ratio to the floor is reported.  "same-calls" (same_calls.c, the
program's system calls alone) is timed too, and reported: it splits the
program's time into what its calls cost and what its own work adds.
"""
import json
import os
import re
import statistics
import sys

WALL_SIZE = 100000
WALL_RATIO_LIMIT = 1.3
SYSCALLS_PER_ENTRY_LIMIT = 4
AMORTIZED_LIMIT = 0.1
LABELS = ("cleanup", "find", "find-perm")
TIMED = LABELS + ("same-calls",)
RSS_LIMIT_KIB = 4096
# Undefined symbols through which code could reach the heap.
ALLOCATORS = re.compile(
    r"\b(malloc|calloc|realloc|free|strdup|strndup|wcsdup|posix_memalign|aligned_alloc|"
    r"valloc|memalign|operator new|operator delete)\b")


class MeasurementError(Exception):
    """A raw measurement file is missing or does not hold what it should."""


def read_text(raw, name):
    path = os.path.join(raw, name)
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            return handle.read()
    except OSError as error:
        raise MeasurementError(f"{name}: {error.strerror}") from error


def read_machine(raw):
    facts = {}
    for line in read_text(raw, "machine.txt").splitlines():
        key, _, value = line.partition("=")
        facts[key] = value
    return facts


def read_wall_times(raw, n):
    """{label: timing} for each of TIMED over the rounds hyperfine-N-roundK.json.

    A timing holds the wall times of all rounds (seconds) and their mean,
    standard deviation and median, and the mean CPU time (user + system).
    """
    names = sorted(name for name in os.listdir(raw)
                   if re.fullmatch(rf"hyperfine-{n}-round\d+\.json", name))
    if not names:
        raise MeasurementError(f"no hyperfine-{n}-round*.json")
    runs = {label: [] for label in TIMED}
    for name in names:
        try:
            for result in json.loads(read_text(raw, name))["results"]:
                cpu = result["user"] + result["system"]
                runs[result["command"]] += [(time, cpu) for time in result["times"]]
        except (ValueError, KeyError, TypeError) as error:
            raise MeasurementError(f"{name}: {error}") from error
    timings = {}
    for command, pairs in runs.items():
        if not pairs:
            raise MeasurementError(f"hyperfine-{n}-round*.json: no run of {command}")
        times = [time for time, _ in pairs]
        timings[command] = {
            "times": times,
            "mean": statistics.fmean(times),
            "stddev": statistics.stdev(times) if len(times) > 1 else 0.0,
            "median": statistics.median(times),
            "cpu": statistics.fmean(cpu for _, cpu in pairs),
        }
    return timings


def read_syscalls(raw, label, n):
    """{syscall name: calls, ..., 'total': calls} from an strace -c -U name,calls summary."""
    name = f"strace-{label}-{n}.txt"
    calls = {}
    for line in read_text(raw, name).splitlines():
        fields = line.split()
        if len(fields) >= 2 and fields[1].isdigit():
            calls[fields[0]] = int(fields[1])
    if "total" not in calls:
        raise MeasurementError(f"{name}: no total line")
    return calls


def read_peak_rss_kib(raw, label, n):
    name = f"rss-{label}-{n}.txt"
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", read_text(raw, name))
    if not match:
        raise MeasurementError(f"{name}: no maximum resident set size")
    return int(match.group(1))


def read_heap_usage(raw, n):
    """(calls to allocation functions, peak heap, leaked) of a heaptrack_print summary."""
    name = f"heaptrack-{n}.txt"
    text = read_text(raw, name)
    calls = re.search(r"calls to allocation functions: (\d+)", text)
    peak = re.search(r"peak heap memory consumption: (\S+)", text)
    leaked = re.search(r"total memory leaked: (\S+)", text)
    if not calls or not peak or not leaked:
        raise MeasurementError(f"{name}: no heaptrack summary")
    return int(calls.group(1)), peak.group(1), leaked.group(1)


def allocator_imports(raw):
    """The device library's undefined symbols that reach the heap."""
    return sorted({match.group(1) for line in read_text(raw, "cleanup-imports.txt").splitlines()
                   for match in [ALLOCATORS.search(line)] if match})


def per_entry(calls_n, calls_0, n):
    return (calls_n - calls_0) / n


def count(value):
    return f"{value:,}"


def milliseconds(seconds):
    return f"{seconds * 1000:,.1f}"


def timing(result):
    """A timing as "median (mean ± standard deviation)" in milliseconds."""
    return (f"{milliseconds(result['median'])} ({milliseconds(result['mean'])} ± "
            f"{milliseconds(result['stddev'])})")


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    raw = sys.argv[1]
    try:
        return report(raw)
    except MeasurementError as error:
        print(f"report.py: {error}", file=sys.stderr)
        return 2


def report(raw):
    machine = read_machine(raw)
    sizes = [int(n) for n in machine["sizes"].split()]
    smoke = machine.get("smoke") == "1"
    baseline = {label: read_syscalls(raw, label, 0) for label in LABELS}

    rows = []
    breakdown = {}
    for n in sizes:
        wall = read_wall_times(raw, n)
        syscalls = {label: read_syscalls(raw, label, n) for label in LABELS}
        row = {"n": n}
        for label in LABELS:
            row[label] = wall[label]
            row["sys_" + label] = per_entry(syscalls[label]["total"], baseline[label]["total"], n)
            row["rss_" + label] = read_peak_rss_kib(raw, label, n)
        row["same-calls"] = wall["same-calls"]
        for label in ("find", "find-perm", "same-calls"):
            row["ratio_" + label] = wall["cleanup"]["median"] / wall[label]["median"]
            row["cpu_ratio_" + label] = wall["cleanup"]["cpu"] / wall[label]["cpu"]
        rows.append(row)
        breakdown[n] = {name: per_entry(calls, baseline["cleanup"].get(name, 0), n)
                        for name, calls in syscalls["cleanup"].items() if name != "total"}
    heap_small, heap_large = (int(n) for n in machine["heap_sizes"].split())
    heap = {n: read_heap_usage(raw, n) for n in (heap_small, heap_large)}
    allocators = allocator_imports(raw)

    out = []
    out.append("Emptying `\\Temp\\ServicePackOld` (n empty files) with the host program, against "
               "find-perm, `find DIR -maxdepth 1 -type f -perm /222 -delete` (the same work: each "
               "file's mode read, then the file deleted), and find, `find DIR -maxdepth 1 -type f "
               "-delete` (the floor), on identical fresh copies; same calls is "
               "`bench/same_calls.c`, the program's own system calls for the work and nothing "
               "else.")
    out.append("")
    out.append(f"Machine: {machine['cpu']}, {machine['cores']} cores, {machine['kernel']}, "
               f"{machine['filesystem']}; {machine['date']}; commit {machine['commit']}, "
               f"{machine['build']} build; hyperfine, {machine['runs']} interleaved runs per command"
               f"{' (smoke run)' if smoke else ''}.")
    out.append("")
    out.append("| Files | cleanup (ms) | find-perm (ms) | find (ms) | same calls (ms) "
               "| wall / find-perm | wall / find | wall / same calls | CPU / find-perm | CPU / find "
               "| syscalls/entry cleanup, find-perm, find | peak RSS cleanup, find-perm, find |")
    out.append("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for row in rows:
        out.append(
            f"| {count(row['n'])} | {timing(row['cleanup'])} | {timing(row['find-perm'])} "
            f"| {timing(row['find'])} | {timing(row['same-calls'])} "
            f"| {row['ratio_find-perm']:.2f} | {row['ratio_find']:.2f} "
            f"| {row['ratio_same-calls']:.2f} | {row['cpu_ratio_find-perm']:.2f} | {row['cpu_ratio_find']:.2f} "
            f"| {row['sys_cleanup']:.3f}, {row['sys_find-perm']:.3f}, {row['sys_find']:.3f} "
            f"| {count(row['rss_cleanup'])}, {count(row['rss_find-perm'])}, "
            f"{count(row['rss_find'])} KiB |")
    out.append("")
    out.append("Times: median (mean ± standard deviation) of the rounds; the wall ratio is that of "
               "the medians, the CPU ratio that of the mean user + system times.  System calls per "
               "entry: (calls of the run on n files − calls of the same run on an image without "
               "leftovers) / n, strace -c -f.")
    largest = max(sizes)
    top = sorted(((calls, name) for name, calls in breakdown[largest].items() if calls >= 0.0005),
                 reverse=True)
    out.append(f"Per entry at {count(largest)} files: "
               + ", ".join(f"{name} {calls:.3f}" for calls, name in top) + ".")
    out.append("Heap (heaptrack, whole run): "
               + "; ".join(f"{count(n)} files: {count(heap[n][0])} allocations, "
                           f"peak {heap[n][1]}B, leaked {heap[n][2]}"
                           for n in (heap_small, heap_large)) + ".")
    out.append("")

    goals = []
    wall_rows = [row for row in rows if row["n"] == WALL_SIZE]
    wall_goal = f"wall time at {count(WALL_SIZE)} files ≤ {WALL_RATIO_LIMIT} × find-perm"
    if smoke:
        ratios = ", ".join(f"{row['ratio_find-perm']:.2f} at {count(row['n'])}" for row in rows)
        goals.append((wall_goal, f"{ratios} (smoke run: reported only)", None))
    elif wall_rows:
        row = wall_rows[0]
        ratio = row["ratio_find-perm"]
        goals.append((wall_goal,
                      f"{ratio:.2f} × (medians {milliseconds(row['cleanup']['median'])} ms "
                      f"vs {milliseconds(row['find-perm']['median'])} ms)",
                      ratio <= WALL_RATIO_LIMIT))
        goals.append((f"wall time at {count(WALL_SIZE)} files against the floor, find",
                      f"{row['ratio_find']:.2f} × (find {milliseconds(row['find']['median'])} ms)",
                      None))
        calls_alone = row["same-calls"]["median"] / row["find-perm"]["median"]
        goals.append((f"the program's system calls alone at {count(WALL_SIZE)} files, "
                      "against find-perm",
                      f"{calls_alone:.2f} × (same calls {milliseconds(row['same-calls']['median'])}"
                      f" ms); the program {row['ratio_same-calls']:.2f} × its calls alone",
                      None))
    else:
        goals.append((wall_goal, f"not measured ({count(WALL_SIZE)} not among the sizes)", None))
    # Calls made for each entry, against calls amortized over many entries
    # (a directory read per block, a close_range per batch): each system
    # call's rate rounded to whole calls per entry, the rest amortized.
    for row in rows:
        rates = breakdown[row["n"]].values()
        row["sys_per_entry"] = sum(round(rate) for rate in rates)
        row["sys_amortized"] = sum(rates) - row["sys_per_entry"]
    worst = max(rows, key=lambda row: (row["sys_per_entry"], row["sys_amortized"]))
    goals.append((f"system calls per entry ≤ {SYSCALLS_PER_ENTRY_LIMIT:g}, plus amortized calls "
                  f"(directory reads, batched closes) < {AMORTIZED_LIMIT:g}",
                  ", ".join(f"{row['sys_per_entry']} + {row['sys_amortized']:.3f} at "
                            f"{count(row['n'])}" for row in rows),
                  worst["sys_per_entry"] <= SYSCALLS_PER_ENTRY_LIMIT
                  and worst["sys_amortized"] < AMORTIZED_LIMIT))
    goals.append(("device code allocates nothing",
                  "libcleanup.a imports " + (", ".join(allocators) if allocators
                                             else "no allocation function"),
                  not allocators))
    goals.append((f"host layer's allocations the same at {count(heap_small)} and "
                  f"{count(heap_large)} entries",
                  f"{count(heap[heap_small][0])} and {count(heap[heap_large][0])}",
                  heap[heap_small][0] == heap[heap_large][0]))
    worst_rss = max(row["rss_cleanup"] for row in rows)
    goals.append((f"peak resident memory < {RSS_LIMIT_KIB // 1024} MiB",
                  f"{count(worst_rss)} KiB at most", worst_rss < RSS_LIMIT_KIB))

    out.append("| Goal | Measured | Result |")
    out.append("|---|---|---|")
    for goal, measured, passed in goals:
        verdict = "reported" if passed is None else ("PASS" if passed else "FAIL")
        out.append(f"| {goal} | {measured} | {verdict} |")
    print("\n".join(out))
    return 1 if any(passed is False for _, _, passed in goals) else 0


if __name__ == "__main__":
    sys.exit(main())
