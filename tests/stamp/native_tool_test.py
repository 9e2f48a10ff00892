#!/usr/bin/env python3
"""The stamping tool end to end on copies of a real setup.exe, case by case.

Natively (the native setupstamp only): each case runs in a fresh folder and
checks the exit code, what the tool prints and the files it leaves; every exe it
writes is read back with wrestool (icoutils), a reader of its own, and must hold
setup.exe's other resources unchanged, the expected configuration and a right
PE checksum. With --windows-tool every case also runs setupstamp.exe under
Wine in a second folder, and the two runs must agree byte for byte: exit code,
standard output, standard error and every file left behind.

Usage: native_tool_test.py NATIVE_TOOL SETUP_EXE SAMPLE_CONFIG [--windows-tool WINE_RUN SETUPSTAMP_EXE]
Every failed check is printed; the script then exits with 1.
"""
import fcntl
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

PRODUCT = ('app.name=印章测试产品\nsetup.text=安装向导\nbutton.text=立即安装\nsummary=第一行说明\\n第二行说明\n'
           'corp.name=测试公司\ncorp.tel=www.example.test 电话：010-0000\nnet2.url1=http://127.0.0.1/dotnet.exe\n'
           'app.url=http://127.0.0.1:3000/pkg/productvv.exe\n')
# Characters where GBK tables differ: the euro sign, the middle dot, the em
# dash, and Windows' private-use characters for user-defined pairs.
EDGES = '\u20ac\u00b7\u2014\ue000\ue4c6\ue864'
EDGE_BYTES = b'\x80\xa1\xa4\xa1\xaa\xaa\xa1\xa1\x40\xfe\xa0'
ABC_SHA256 = 'ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad'


def gbk_crlf(text):
    return text.replace('\n', '\r\n').encode('gbk')


def every_bmp_character():
    """The whole Basic Multilingual Plane but surrogates and line ends, in lines of unknown keys."""
    characters = [chr(c) for c in range(0x20, 0x10000) if not 0xD800 <= c <= 0xDFFF]
    return ''.join(f'x{i}={"".join(characters[i:i + 1000])}\n' for i in range(0, len(characters), 1000))


# name: (files to put beside setup.exe, [(arguments, exit code, texts in stderr, texts in stdout)], check)
# A file of None is a copy of setup.exe. A check gets the folder and returns failures.
CASES = {
    'stamp and print': (
        {'product.txt': PRODUCT.encode()},
        [('--out new.exe product.txt setup.exe', 0, ['product.txt: read as UTF-8, 0 errors, 0 warnings'],
          ['new.exe: configuration stamped (']),
         ('--print new.exe', 0, [], [PRODUCT.replace('\n', '\r\n')])],
        lambda folder: stamped_well(folder, 'new.exe', gbk_crlf(PRODUCT))),
    'the sample gives setup.exe back': (
        {},
        [('--out same.exe sample.txt setup.exe', 0, ['sample.txt: read as GBK (code page 936), 0 errors'], [])],
        lambda folder: [] if read(folder, 'same.exe') == read(folder, 'setup.exe') else
        ['stamping the sample it carries did not give setup.exe byte for byte']),
    'grown past a page, edge characters, pins': (
        {'product.txt': (PRODUCT + f'summary2={EDGES}\npadding={"长" * 3000}\n').encode(), 'v4.exe': b'abc'},
        [('--pin app.sha256.v4=v4.exe --in-place product.txt setup.exe', 0,
          ['product.txt:10: warning: unknown key "padding"', 'read as UTF-8, 0 errors, 3 warnings'],
          ['setup.exe: configuration stamped'])],
        lambda folder: stamped_well(folder, 'setup.exe', gbk_crlf(PRODUCT) + b'summary2=' + EDGE_BYTES + b'\r\n' +
                                    b'padding=' + '长'.encode('gbk') * 3000 + b'\r\n' +
                                    f'app.sha256.v4={ABC_SHA256}\r\n'.encode(), original='original.exe')),
    'a text held open for writing': (
        {'product.txt': PRODUCT.encode()},
        [('--check product.txt', 0, ['product.txt: read as UTF-8, 0 errors, 0 warnings'], [])],
        None),
    'every character': (
        {'every.txt': every_bmp_character().encode()},
        [('--check every.txt', 1, ['every.txt:1: error: GBK (code page 936) cannot hold "\x80"'], [])],
        None),
    'mistakes write nothing': (
        {'product.txt': PRODUCT.replace('app.url=http://', 'app.url=ftp://').encode(), 'text.exe': b'not a program'},
        [('--out new.exe product.txt setup.exe', 1, ['product.txt: read as UTF-8, 1 error, 0 warnings; nothing'], []),
         ('--out new.exe sample.txt missing.exe', 3,
          ['missing.exe: error: cannot open it (error 2: the file does not exist)\nnew.exe: nothing written'], []),
         ('--out absent/new.exe sample.txt setup.exe', 3,
          ['absent: error: cannot create a temporary file in this folder (error 267: no such folder)'], []),
         ('--pin net2.sha256=absent.exe --check sample.txt', 3, ['absent.exe: error: cannot open it (error 2'], []),
         ('--out new.exe sample.txt text.exe', 3, ['text.exe: error: cannot load it as a Windows program'], []),
         ('--print sample.txt', 3, ['sample.txt: error: cannot load it as a Windows program'], []),
         ('--inplace sample.txt setup.exe', 2, ['setupstamp: unknown option --inplace\nusage:'], [])],
        lambda folder: [] if sorted(os.listdir(folder)) == ['original.exe', 'product.txt', 'sample.txt', 'setup.exe',
                                                            'text.exe'] else [f'left: {sorted(os.listdir(folder))}']),
    'a read-only exe stays': (
        {},
        [('--in-place sample.txt setup.exe', 3, ['setup.exe: error: it is read-only'], [])],
        lambda folder: [] if read(folder, 'setup.exe') == read(folder, 'original.exe') else ['the exe was changed']),
}


def read(folder, name):
    with open(os.path.join(folder, name), 'rb') as f:
        return f.read()


def resources(path):
    """{(type, name, language): bytes} as wrestool reads them."""
    listing = subprocess.run(['wrestool', '-l', path], check=True, capture_output=True).stdout.decode()
    found = {}
    for key in re.findall(r"--type=(\d+) --name=(\d+) --language=(\d+)", listing):
        found[key] = subprocess.run(['wrestool', '-x', '--raw', '--type=' + key[0], '--name=' + key[1],
                                     '--language=' + key[2], path], check=True, capture_output=True).stdout
    return found


def pe_checksums(data):
    """(stored, computed) PE checksum."""
    at = struct.unpack_from('<I', data, 0x3C)[0] + 24 + 64
    words = bytearray(data)
    words[at:at + 4] = bytes(4)
    words += bytes(len(words) % 2)
    total = 0
    for (word,) in struct.iter_unpack('<H', bytes(words)):
        total = (total + word & 0xFFFF) + (total + word >> 16)
    return struct.unpack_from('<I', data, at)[0], (total + len(data)) & 0xFFFFFFFF


def layout(data):
    """The headers that a grown or shrunk resource section changes, and each section's bytes."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    count, optional_size = struct.unpack_from('<H', data, pe + 6)[0], struct.unpack_from('<H', data, pe + 20)[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from('<H', data, optional)[0] == 0x20B else 96)
    sections = []
    for i in range(count):
        header = optional + optional_size + 40 * i
        virtual_size, address, raw_size, raw_offset = struct.unpack_from('<IIII', data, header + 8)
        sections.append((data[header:header + 8].rstrip(b'\0').decode(), address, virtual_size, raw_size,
                         data[raw_offset:raw_offset + raw_size]))
    fields = {'initialized data': struct.unpack_from('<I', data, optional + 8)[0],
              'image size': struct.unpack_from('<I', data, optional + 56)[0],
              'relocations': struct.unpack_from('<II', data, directories + 5 * 8)}
    return sections, fields


def layout_kept(original, stamped):
    """Sections where they belong, every other section's bytes unchanged, the headers following."""
    failures = []
    (before, old), (after, new) = layout(original), layout(stamped)
    if [s[0] for s in before] != [s[0] for s in after]:
        return [f'the sections changed: {[s[0] for s in after]}']
    end = after[0][1]
    for (name, address, virtual_size, _, data), (_, _, _, _, old_data) in zip(after, before):
        if address != end:
            failures.append(f'section {name} at {address:#x}, not right behind the one before ({end:#x})')
        end = address + (virtual_size + 0xFFF) // 0x1000 * 0x1000
        if name != '.rsrc' and data != old_data:
            failures.append(f'section {name} changed')
    resources = [(s[3], o[3]) for s, o in zip(after, before) if s[0] == '.rsrc'][0]
    reloc = [s for s in after if s[0] == '.reloc'][0]
    expected = {'initialized data': old['initialized data'] + resources[0] - resources[1], 'image size': end,
                'relocations': (reloc[1], old['relocations'][1])}
    failures += [f'{field} is {new[field]}, not {expected[field]}' for field in expected if new[field] != expected[field]]
    return failures


def stamped_well(folder, name, config, original='setup.exe'):
    failures = layout_kept(read(folder, original), read(folder, name))
    before, after = resources(os.path.join(folder, original)), resources(os.path.join(folder, name))
    config_key = ('1600', '1601', '2052')
    if after.pop(config_key, None) != config:
        failures.append(f'{name}: wrestool does not read the expected configuration')
    before.pop(config_key, None)
    if after != before:
        failures.append(f'{name}: its other resources differ: {sorted(before)} against {sorted(after)}')
    stored, computed = pe_checksums(read(folder, name))
    if stored != computed:
        failures.append(f'{name}: checksum {stored:#x}, the bytes give {computed:#x}')
    return failures


def prepare(folder, files, setup, sample):
    os.makedirs(folder)
    shutil.copy(setup, os.path.join(folder, 'setup.exe'))
    shutil.copy(setup, os.path.join(folder, 'original.exe'))
    shutil.copy(sample, os.path.join(folder, 'sample.txt'))
    for name, data in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


def run_case(command, folder, name, runs):
    """Runs every step of a case; returns [(exit code, stdout, stderr)] and the folder's files."""
    results = []
    if name == 'a read-only exe stays':
        os.chmod(os.path.join(folder, 'setup.exe'), 0o444)
    # An editor's way: open for writing, locked, while the tool reads.
    holder = open(os.path.join(folder, 'product.txt'), 'ab') if name == 'a text held open for writing' else None
    if holder:
        fcntl.flock(holder, fcntl.LOCK_EX)
    try:
        for arguments, _, _, _ in runs:
            done = subprocess.run(command + arguments.split(' '), cwd=folder, capture_output=True, timeout=120)
            results.append((done.returncode, done.stdout, done.stderr))
    finally:
        if holder:
            holder.close()
    files = {n: read(folder, n) for n in sorted(os.listdir(folder))}
    return results, files


def main():
    arguments = sys.argv[1:]
    windows = None
    if '--windows-tool' in arguments:
        at = arguments.index('--windows-tool')
        windows = [os.path.abspath(arguments[at + 1]), os.path.abspath(arguments[at + 2])]
        arguments = arguments[:at] + arguments[at + 3:]
    if len(arguments) != 3:
        raise SystemExit(__doc__)
    native, setup, sample = (os.path.abspath(a) for a in arguments)
    failures = []
    root = tempfile.mkdtemp(prefix='setupstamp-native-')
    try:
        for number, (name, (files, runs, check)) in enumerate(CASES.items()):
            folder = os.path.join(root, f'{number}-native')
            prepare(folder, files, setup, sample)
            results, left = run_case([native], folder, name, runs)
            for (arguments, code, errors, outputs), (got, out, err) in zip(runs, results):
                out, err = out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace')
                if got != code:
                    failures.append(f'{name}: "{arguments}" exited with {got}, not {code}\n{err}')
                failures += [f'{name}: "{arguments}" did not print {e!r} on stderr:\n{err}' for e in errors if e not in err]
                failures += [f'{name}: "{arguments}" did not print {o!r}:\n{out}' for o in outputs if o not in out]
            if check:
                failures += [f'{name}: {failure}' for failure in check(folder)]
            if windows:
                other = os.path.join(root, f'{number}-windows')
                prepare(other, files, setup, sample)
                other_results, other_left = run_case(windows, other, name, runs)
                for (arguments, _, _, _), mine, theirs in zip(runs, results, other_results):
                    for what, a, b in zip(('exit code', 'stdout', 'stderr'), mine, theirs):
                        if a != b:
                            failures.append(f'{name}: "{arguments}": the tools differ in {what}:\n'
                                            f'  native:         {a!r:.600}\n  setupstamp.exe: {b!r:.600}')
                for file in sorted(set(left) | set(other_left)):
                    if left.get(file) != other_left.get(file):
                        failures.append(f'{name}: the tools leave different {file}')
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for failure in failures:
        print(f'FAILED: {failure}')
    if failures:
        sys.exit(1)
    print(f'{len(CASES)} cases passed' + (', both tools writing the same bytes' if windows else ''))


if __name__ == '__main__':
    main()
