#!/usr/bin/env python3
"""Checks that setup.exe's folders reach no folder above them.

The folders read bottom-up: log and config, download, install, shell. A folder
includes headers only from the folders it may call; a lower one reaches a
higher one only through a callback it is handed (the download job's progress
callbacks, the window operations that the install worker is handed).

Usage: check_layers.py SOURCE_ROOT
Prints one line per include that reaches upward and exits with 1 when there is
any, 2 when the check itself could not run.
"""
import os
import re
import sys

# Folder -> the folders whose headers it may include (its own always).
MAY_INCLUDE = {
    'log': set(),
    'config': {'log'},
    'download': {'log', 'config'},
    'install': {'log', 'config', 'download'},
    'shell': {'log', 'config', 'download', 'install'},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]*"')


def upward_includes(root):
    for folder, allowed in sorted(MAY_INCLUDE.items()):
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if not name.endswith(('.cpp', '.h')):
                continue
            path = os.path.join(directory, name)
            with open(path, encoding='utf-8', errors='replace') as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1)
                    if target != folder and target in MAY_INCLUDE and target not in allowed:
                        yield f'{folder}/{name}:{number}: {folder}/ includes {target}/: {line.strip()}'


def main():
    if len(sys.argv) != 2 or not os.path.isdir(sys.argv[1]):
        print(__doc__)
        return 2
    root = sys.argv[1]
    if not any(os.path.isdir(os.path.join(root, folder)) for folder in MAY_INCLUDE):
        print(f'no source folders under {root}')
        return 2
    found = list(upward_includes(root))
    for line in found:
        print(line)
    if found:
        print(f'{len(found)} include(s) reach a folder above their own')
        return 1
    print('every folder includes only from the folders below it')
    return 0


if __name__ == '__main__':
    sys.exit(main())
