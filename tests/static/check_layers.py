#!/usr/bin/env python3
"""Checks that the source folders, and the files inside each, have no way back up.

The folders read bottom-up: platform, log and config, http, download, install,
shell; tools/ and fuzz/ stand on their own and may use the plain-value floors
(config, http and install's plain units, never download or the shell), and no
folder uses them. http/ holds plain values only: it includes no other folder
and, of the system's headers, only the C library's, so that it builds for any
host, as the fuzzers and the native stamping tool need. A folder includes headers only from the folders it may call; a lower
one reaches a higher one only through a callback it is handed (the download
job's progress callbacks, the window operations that the install worker is
handed).

Inside and across folders, x.h and x.cpp are one unit, and the units' includes
must not run in a circle: a unit whose header includes another unit's header
while that unit's source includes the first one's is a circle too, though no
file includes itself.

Usage: check_layers.py SOURCE_ROOT
Prints one line per include that reaches a folder it may not, and each circle
with the includes that close it; exits with 1 when there is any, 2 when the
check itself could not run.
"""
import os
import re
import sys

# Folder -> the folders whose headers it may include (its own always).
MAY_INCLUDE = {
    'platform': set(),
    'log': {'platform'},
    'config': {'platform', 'log'},
    'http': set(),
    'download': {'platform', 'log', 'config', 'http'},
    'install': {'platform', 'log', 'config', 'http', 'download'},
    'shell': {'platform', 'log', 'config', 'http', 'download', 'install'},
    'tools': {'platform', 'log', 'config', 'http', 'install'},
    'fuzz': {'platform', 'log', 'config', 'http', 'install', 'tools'},
}

# The only system headers that a folder of plain values may include.
C_LIBRARY_ONLY = {'http'}
C_LIBRARY = {'assert.h', 'ctype.h', 'errno.h', 'limits.h', 'stdarg.h', 'stdbool.h', 'stddef.h', 'stdint.h',
             'stdio.h', 'stdlib.h', 'string.h'}
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s*<([^>]*)>')

INCLUDE = re.compile(r'^\s*#\s*include\s*"(([^"/]+)/[^"]*)"')


def source_files(root):
    """Paths from the root, with '/', of every .h and .cpp of the checked folders."""
    for folder in sorted(MAY_INCLUDE):
        for directory, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                if name.endswith(('.cpp', '.h')):
                    yield os.path.relpath(os.path.join(directory, name), root).replace(os.sep, '/')


def includes(root, path):
    """(line number, included path, line) of each quoted include with a folder."""
    with open(os.path.join(root, path), encoding='utf-8', errors='replace') as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1), line.strip()


def system_headers(root, files):
    """Each include of a header outside the C library in a folder of plain values."""
    for path in files:
        if path.split('/')[0] not in C_LIBRARY_ONLY:
            continue
        with open(os.path.join(root, path), encoding='utf-8', errors='replace') as source:
            for number, line in enumerate(source, 1):
                match = SYSTEM_INCLUDE.match(line)
                if match and match.group(1) not in C_LIBRARY:
                    yield f'{path}:{number}: {path.split("/")[0]}/ includes a system header: {line.strip()}'


def unit_of(path):
    return os.path.splitext(path)[0]


def upward_includes(root, files):
    for path in files:
        folder = path.split('/')[0]
        for number, target, line in includes(root, path):
            reached = target.split('/')[0]
            if reached != folder and reached in MAY_INCLUDE and reached not in MAY_INCLUDE[folder]:
                yield f'{path}:{number}: {folder}/ includes {reached}/: {line}'


def unit_graph(root, files):
    """unit -> {included unit: (file, line number)} over the files that exist."""
    present = set(files)
    graph = {unit_of(path): {} for path in files}
    for path in files:
        for number, target, _ in includes(root, path):
            if target in present and unit_of(target) != unit_of(path):
                graph[unit_of(path)].setdefault(unit_of(target), (path, number))
    return graph


def circles(graph):
    """Each strongly connected group of more than one unit, sorted (Tarjan's
    algorithm, without recursion)."""
    index = {}
    low = {}
    on_stack = set()
    stack = []
    groups = []
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            unit, targets = work[-1]
            target = next(targets, None)
            if target is not None:
                if target not in index:
                    index[target] = low[target] = len(index)
                    stack.append(target)
                    on_stack.add(target)
                    work.append((target, iter(sorted(graph[target]))))
                elif target in on_stack:
                    low[unit] = min(low[unit], index[target])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[unit])
            if low[unit] == index[unit]:
                group = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    group.append(member)
                    if member == unit:
                        break
                if len(group) > 1:
                    groups.append(sorted(group))
    return groups


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        print(__doc__)
        return 2
    root = sys.argv[1]
    files = list(source_files(root))
    if not files:
        print(f'no source folders under {root}')
        return 2
    upward = list(upward_includes(root, files)) + list(system_headers(root, files))
    for line in upward:
        print(line)
    graph = unit_graph(root, files)
    found = circles(graph)
    for group in found:
        print(f'circle of {len(group)} units: ' + ', '.join(group))
        for unit in group:
            for target, (path, number) in sorted(graph[unit].items()):
                if target in group:
                    print(f'  {path}:{number}: {unit} includes {target}')
    if upward:
        print(f'{len(upward)} include(s) reach a folder or header that their own may not')
    if found:
        print(f'{len(found)} circle(s) of units that include each other')
    if upward or found:
        return 1
    print(f'{len(graph)} units: every folder includes only from the folders below it, and no unit includes its way back')
    return 0


if __name__ == '__main__':
    sys.exit(main())
