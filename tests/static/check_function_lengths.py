#!/usr/bin/env python3
"""Checks that no product function is longer than 60 lines.

The product is what ships: setup.exe's folders and the stamping tool (both its
Windows and its native build). A function's length runs from the line of its
name to the line of its closing brace. A few functions read better whole (a
table, a switch): each is named below with the most lines it may have, so that
it cannot grow unnoticed either.

Usage: check_function_lengths.py SOURCE_ROOT
Prints one line per function that is too long and exits with 1 when there is
any, 2 when the check itself could not run. --list prints every function of
more than 40 lines with its length, longest first, and exits with 0.

The reading is a plain one, enough for this code base: comments, strings and
character literals are blanked out, then every brace at file level (inside a
namespace, extern "C" or a struct body too) whose head ends in a parameter
list opens a function.
"""
import os
import re
import sys

LIMIT = 60
FOLDERS = ['platform', 'log', 'config', 'http', 'download', 'install', 'shell', 'tools']

# (path from the root, function) -> (most lines, why it stays whole).
ALLOWED = {
}

# Blocks whose contents are read as file level.
CONTAINER = re.compile(r'^(?:namespace\b[\w\s:]*|extern\s*"C"\s*|(?:typedef\s+)?(?:struct|class|union)\b[^=()]*)$')
# The head of a definition ends in its parameter list, maybe with qualifiers after it.
FUNCTION_HEAD = re.compile(r'\)\s*(?:const\s*)?(?:noexcept\s*)?(?:override\s*)?$')
NAME = re.compile(r'([A-Za-z_~][\w:~]*(?:\s*operator\s*\S+)?)\s*$')


def blank_out(text):
    """The text with comments and literals replaced by blanks, lines kept."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            end = text.find('\n', i)
            end = n if end < 0 else end
            out.append(' ' * (end - i))
            i = end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (min(j, n) - i - 1) + (c if j < n else ''))
            i = j + 1
        elif c == '#' and (i == 0 or text[i - 1] == '\n'):
            # A preprocessor line (and its continuations) holds no function body.
            j = i
            while True:
                end = text.find('\n', j)
                end = n if end < 0 else end
                if end > 0 and text[end - 1] == '\\':
                    j = end + 1
                    continue
                break
            out.append(re.sub(r'[^\n]', ' ', text[i:end]))
            i = end
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def head_name(head):
    """The function's name in a head that ends in its parameter list, or None."""
    depth = 0
    for i in range(len(head) - 1, -1, -1):
        if head[i] == ')':
            depth += 1
        elif head[i] == '(':
            depth -= 1
            if depth == 0:
                match = NAME.search(head[:i])
                return match.group(1) if match else None
    return None


def functions(text):
    """(name, first line, last line) of every function defined in the text."""
    code = blank_out(text)
    found = []
    containers = 0  # open blocks read as file level
    head_start = 0
    i = 0
    while i < len(code):
        c = code[i]
        if c in ';}':
            if c == '}' and containers > 0:
                containers -= 1
            head_start = i + 1
        elif c == '{':
            head = code[head_start:i].strip()
            if CONTAINER.match(head):
                containers += 1
                head_start = i + 1
                i += 1
                continue
            end = matching_brace(code, i)
            name = head_name(head) if FUNCTION_HEAD.search(head) and '=' not in head.split('(')[0] else None
            if name is not None:
                name_at = head_start + code[head_start:i].find(name.split('::')[0])
                found.append((name, code.count('\n', 0, name_at) + 1, code.count('\n', 0, end) + 1))
            i = end
            head_start = end + 1
        i += 1
    return found


def matching_brace(code, at):
    depth = 0
    for i in range(at, len(code)):
        if code[i] == '{':
            depth += 1
        elif code[i] == '}':
            depth -= 1
            if depth == 0:
                return i
    return len(code) - 1


def product_functions(root):
    for folder in FOLDERS:
        for directory, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                if not name.endswith(('.cpp', '.h')):
                    continue
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, root).replace(os.sep, '/')
                with open(path, encoding='utf-8', errors='replace') as source:
                    text = source.read()
                for function, first, last in functions(text):
                    yield relative, function, first, last - first + 1


def main():
    arguments = [a for a in sys.argv[1:] if a != '--list']
    if len(arguments) != 1 or not os.path.isdir(arguments[0]):
        print(__doc__)
        return 2
    root = arguments[0]
    found = list(product_functions(root))
    if not found:
        print(f'no product functions under {root}')
        return 2
    if '--list' in sys.argv:
        for path, name, first, length in sorted(found, key=lambda f: -f[3]):
            if length > 40:
                print(f'{length:4d} {name} ({path}:{first})')
        return 0
    too_long = []
    for path, name, first, length in found:
        most, _ = ALLOWED.get((path, name), (LIMIT, ''))
        if length > most:
            too_long.append(f'{path}:{first}: {name} is {length} lines; at most {most}')
    for line in too_long:
        print(line)
    if too_long:
        print(f'{len(too_long)} function(s) longer than allowed')
        return 1
    print(f'{len(found)} functions, none longer than {LIMIT} lines but the {len(ALLOWED)} allowed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
