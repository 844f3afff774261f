#!/usr/bin/env python3
"""check_includes.py - proves from the #include "..." lines of src/ that the
includes form no cycle and that the host layer's folders include only
downward.

An include is resolved as the compiler resolves it: beside the including
file, then in src/, src/coredll and src/coredll/host (the include paths of
the build).  Three graphs must have no cycle:
  - files;
  - modules: a header and its .cpp (same folder, same name) are one node, so
    a.cpp including b.h while b.cpp includes a.h is a cycle too;
  - the host layer's folders (src/coredll/host/*/).
Each host folder has its place in LAYERS, lowest first (the order of the
host README's table), and includes only folders below it.  Nothing else in
src/ includes the host layer: its interface is coredll.h.  Prints the host
folders with what each includes; exits 1 on any fault.  Usage: check_includes.py [TOP] (default: this checkout).
"""
import os
import re
import sys

ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
SRC = 'src'
HOST = 'src/coredll/host'
INCLUDE_PATHS = ['src', 'src/coredll', 'src/coredll/host']
LAYERS = ['names', 'trace', 'kernel', 'paths', 'registry', 'handles', 'api', 'startup', 'testing']
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def sources():
    for folder, _, names in os.walk(os.path.join(ROOT, SRC)):
        for name in sorted(names):
            if name.endswith(('.h', '.cpp', '.inc')):
                yield os.path.relpath(os.path.join(folder, name), ROOT)


def resolve(including, target):
    for base in [os.path.dirname(including)] + INCLUDE_PATHS:
        path = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(os.path.join(ROOT, path)):
            return path
    return None


def find_cycle(graph):
    """One cycle of `graph` (node -> set of nodes) as a list, or None."""
    state = {}
    for start in sorted(graph):
        if start in state:
            continue
        stack = [(start, iter(sorted(graph[start])))]
        path = [start]
        state[start] = 'open'
        while stack:
            node, edges = stack[-1]
            nxt = next(edges, None)
            if nxt is None:
                state[node] = 'done'
                stack.pop()
                path.pop()
            elif state.get(nxt) == 'open':
                return path[path.index(nxt):] + [nxt]
            elif nxt not in state:
                state[nxt] = 'open'
                stack.append((nxt, iter(sorted(graph.get(nxt, ())))))
                path.append(nxt)
    return None


def host_folder(path):
    rel = os.path.relpath(path, HOST)
    if rel.startswith('..') or os.sep not in rel:
        return None
    return rel.split(os.sep)[0]


def main():
    faults = []
    files = {}
    for path in sources():
        edges = set()
        with open(os.path.join(ROOT, path), encoding='utf-8') as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(path, match.group(1))
                if target is None:
                    faults.append(f'{path}:{number}: "{match.group(1)}" not found')
                else:
                    edges.add(target)
        files[path] = edges

    modules, folders = {}, {}
    for path, edges in files.items():
        module = os.path.splitext(path)[0]
        modules.setdefault(module, set())
        modules[module] |= {os.path.splitext(e)[0] for e in edges} - {module}
        folder = host_folder(path)
        if folder is not None:
            folders.setdefault(folder, set())
        for target in edges:
            into = host_folder(target)
            if into is not None and folder is None:
                faults.append(f'{path}: includes the host layer ({target}) from outside it')
            if folder is not None and into is not None and into != folder:
                folders[folder].add(into)
                if folder in LAYERS and into in LAYERS and \
                        LAYERS.index(into) > LAYERS.index(folder):
                    faults.append(f'{path}: includes {target}, which lies above it')
    faults += [f'{HOST}/{f}/: not in LAYERS' for f in sorted(folders) if f not in LAYERS]

    for name, graph in (('file', files), ('module', modules), ('host folder', folders)):
        rest = {node: set(edges) for node, edges in graph.items()}
        cycle = find_cycle(rest)
        while cycle:  # each cycle once: its closing edge is left out after
            faults.append(f'{name} cycle: ' + ' -> '.join(cycle))
            rest[cycle[-2]].discard(cycle[-1])
            cycle = find_cycle(rest)

    edge_count = sum(len(e) for e in files.values())
    print(f'check_includes: {len(files)} files, {edge_count} includes; '
          f'{len(modules)} modules; {len(folders)} host folders')
    if not faults:
        for folder in LAYERS:
            below = ', '.join(sorted(folders.get(folder, ()), key=LAYERS.index))
            print(f'  {folder}/ includes {below or "no other host folder"}')
        print('check_includes: no cycle among files, modules or host folders; '
              'no include runs up')
        return 0
    for fault in faults:
        print(f'check_includes: {fault}', file=sys.stderr)
    return 1


if __name__ == '__main__':
    sys.exit(main())
