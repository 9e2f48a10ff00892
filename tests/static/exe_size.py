#!/usr/bin/env python3
"""The size of a built setup.exe, and where its room goes.

Usage: exe_size.py EXE [--map LINK_MAP [--detail] [--forbid PART]...] [--limit BYTES]
Prints the file's size; with --map, a table of the bytes each part of the
program takes in the file, summed from the linker's map (input sections of
every output section that the file holds); --detail also lists the objects of
each part. Exits with 1 when the file is larger than --limit BYTES, or when
the map shows anything of a part named with --forbid (libstdc++, winpthread,
unwinder); 2 when the check itself could not run.
"""
import argparse
import os
import re
import sys
from collections import defaultdict

# Output sections that take no room in the file.
NOT_IN_FILE = ('.bss', '.debug', '.zdebug', '.stab', '.edata', '.endjunk')

# First match wins: the part of the program an input file belongs to, with the
# short names that --forbid takes.
PARTS = [
    ('resources', 'resources (icons, version, manifest, configuration)', re.compile(r'\.res\)?$')),
    # Optimised whole at link time, setupcore and the entry point come out as one object.
    ('ours', 'our code (setupcore, the exe\'s own objects)',
     re.compile(r'libsetupcore\.a|\.dir/objects\.a|\.cpp\.obj\)?$|\.ltrans\d+\.ltrans\.o$')),
    ('libstdc++', 'libstdc++ (std::wstring, std::map, exception support)', re.compile(r'libstdc\+\+\.a')),
    ('winpthread', 'winpthread (posix thread model)', re.compile(r'libpthread\.a|libwinpthread')),
    ('unwinder', 'libgcc unwinder (libgcc_eh)', re.compile(r'libgcc_eh\.a')),
    ('libgcc', 'libgcc', re.compile(r'libgcc\.a')),
    ('crt', 'mingw C runtime (start-up, helpers)',
     re.compile(r'crt2u?\.o|crtbegin\.o|crtend\.o|libmingw32\.a|libmingwex\.a|libmoldname\.a')),
    ('imports', 'import tables (system DLLs, msvcrt)', re.compile(r'/lib[a-z0-9_]+\.a\(')),
    ('linker', 'relocations and linker stubs', re.compile(r'^dll stuff$|^linker stubs$|^LONG ')),
]
PART_NAMES = {short: name for short, name, _ in PARTS}
OTHER = 'other'
HEADERS = 'headers and alignment'

INPUT_SAME_LINE = re.compile(r'^ (\S+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(.+)$')
INPUT_NEXT_LINE = re.compile(r'^\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(\S.*)$')
OUTPUT_SECTION = re.compile(r'^(\.\S+)')


def part_of(input_file):
    for _, name, pattern in PARTS:
        if pattern.search(input_file):
            return name
    return OTHER


def input_sections(map_path):
    """Yields (output section, input file, size) for every input section placed."""
    with open(map_path, encoding='utf-8', errors='replace') as lines:
        in_memory_map = False
        output = None
        pending_name = None
        for line in lines:
            line = line.rstrip('\n')
            if line.startswith('Linker script and memory map'):
                in_memory_map = True
                continue
            if not in_memory_map:
                continue
            heading = OUTPUT_SECTION.match(line)
            if heading:
                output = heading.group(1)
                pending_name = None
                continue
            same = INPUT_SAME_LINE.match(line)
            if same:
                pending_name = None
                yield output, same.group(4), int(same.group(3), 16)
                continue
            if pending_name is not None:
                following = INPUT_NEXT_LINE.match(line)
                pending_name = None
                if following:
                    yield output, following.group(3), int(following.group(2), 16)
                continue
            # A long input section name stands alone; its address and size follow.
            if re.match(r'^ \S+$', line):
                pending_name = line.strip()


def room_per_part(map_path):
    parts = defaultdict(int)
    objects = defaultdict(lambda: defaultdict(int))
    for output, input_file, size in input_sections(map_path):
        if output is None or output.startswith(NOT_IN_FILE) or size == 0:
            continue
        part = part_of(input_file)
        parts[part] += size
        objects[part][os.path.basename(input_file)] += size
    return parts, objects


def print_table(exe_size, parts, objects, detail):
    placed = sum(parts.values())
    rows = sorted(parts.items(), key=lambda item: -item[1])
    rows.append((HEADERS, exe_size - placed))
    print('| part | bytes |')
    print('|---|---:|')
    for name, size in rows:
        print(f'| {name} | {size:,} |')
        if detail and name in objects:
            for obj, obj_size in sorted(objects[name].items(), key=lambda item: -item[1]):
                print(f'|   {obj} | {obj_size:,} |')
    print(f'| **file** | **{exe_size:,}** |')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('exe')
    parser.add_argument('--map')
    parser.add_argument('--limit', type=int)
    parser.add_argument('--detail', action='store_true')
    parser.add_argument('--forbid', action='append', default=[], choices=sorted(PART_NAMES))
    args = parser.parse_args()
    if args.forbid and not args.map:
        parser.error('--forbid needs --map')
    try:
        size = os.path.getsize(args.exe)
    except OSError as error:
        print(f'cannot read {args.exe}: {error}')
        return 2
    print(f'{args.exe}: {size:,} bytes')
    failed = False
    if args.map:
        try:
            parts, objects = room_per_part(args.map)
        except OSError as error:
            print(f'cannot read {args.map}: {error}')
            return 2
        if not parts:
            print(f'{args.map} places no input sections: not a link map')
            return 2
        print_table(size, parts, objects, args.detail)
        for short in args.forbid:
            name = PART_NAMES[short]
            if name in objects:
                failed = True
                print(f'{os.path.basename(args.exe)} links {short}: ' + ', '.join(sorted(objects[name])))
    if args.limit is not None:
        if size > args.limit:
            failed = True
            print(f'{os.path.basename(args.exe)} is {size:,} bytes, '
                  f'{size - args.limit:,} over its limit of {args.limit:,}')
        else:
            print(f'within the limit of {args.limit:,} bytes ({args.limit - size:,} to spare)')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
