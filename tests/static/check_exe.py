#!/usr/bin/env python3
"""Checks a built setup.exe as Windows will load it: a 32-bit GUI program for
Windows XP and later that imports system DLLs only, carries no call that XP
lacks, and holds the manifest, version block, icons and configuration text.
With --tool, a 32-bit console program for XP and later with system imports
only (the stamping tool).

Either way the PE checksum must match the bytes. --epoch N checks the link
time stamp; each --absent TEXT (a build folder) must not occur in the file,
in UTF-8 or UTF-16.

Usage: check_exe.py [--epoch N] [--absent TEXT]... EXE MANIFEST_FILE (CONFIG_FILE | --no-config)
       check_exe.py [--epoch N] [--absent TEXT]... --tool EXE
Prints one line per failed check and exits with 1 when any failed, 2 when the
check itself could not run.
"""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

OBJDUMP = 'i686-w64-mingw32-objdump'

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'shlwapi.dll',
               'advapi32.dll', 'ws2_32.dll', 'msvcrt.dll', 'shell32.dll'}

# System DLLs that some supported systems lack (winhttp.dll: Windows XP before
# SP1): an import would stop the program from loading there.
LOOKED_UP_AT_RUN_TIME = {'winhttp.dll'}

# Functions that Windows XP does not export: calling one directly stops the
# program from loading there.
POST_XP_FUNCTIONS = {
    'GetTickCount64', 'InitializeSRWLock', 'AcquireSRWLockExclusive', 'AcquireSRWLockShared',
    'ReleaseSRWLockExclusive', 'ReleaseSRWLockShared', 'TryAcquireSRWLockExclusive',
    'TryAcquireSRWLockShared', 'InitializeConditionVariable', 'SleepConditionVariableCS',
    'SleepConditionVariableSRW', 'WakeConditionVariable', 'WakeAllConditionVariable',
    'InitOnceInitialize', 'InitOnceExecuteOnce', 'InitOnceBeginInitialize', 'InitOnceComplete',
    'FlsAlloc', 'FlsFree', 'FlsGetValue', 'FlsSetValue', 'GetLocaleInfoEx', 'CompareStringEx',
    'LCMapStringEx', 'GetUserDefaultLocaleName', 'LocaleNameToLCID', 'SetThreadStackGuarantee',
    'GetSystemTimePreciseAsFileTime', 'InitializeCriticalSectionEx', 'CreateEventExW',
    'CreateMutexExW', 'CreateSemaphoreExW', 'GetFinalPathNameByHandleW',
    'GetCurrentProcessorNumber', 'GetThreadId', 'GetProcessId', 'QueryFullProcessImageNameW',
    'SetProcessDPIAware', 'SetProcessDpiAwareness', 'SetProcessDpiAwarenessContext',
    'GetDpiForWindow', 'GetDpiForSystem', 'RegDeleteKeyExW', 'RegGetValueW', 'inet_pton',
    'inet_ntop', 'InetPtonW', 'InetNtopW', 'GetAddrInfoW', 'GetAddrInfoExW',
    'ChangeWindowMessageFilter', 'ShutdownBlockReasonCreate', 'TaskDialogIndirect',
    'SetDefaultDllDirectories', 'AddDllDirectory', 'RemoveDllDirectory',
}

# Imports that Windows 7 and later forward out of a KnownDLL to one that is not
# (advapi32's CryptoAPI to cryptsp.dll, its SystemFunction* to cryptbase.dll):
# the loader looks for that library by name, beside the exe first, while it
# binds the imports, before the program can limit the search. setup.exe runs
# elevated from a folder others can write, so it looks these up at run time.
FORWARDED_OUT_OF_KNOWN_DLLS = {'advapi32.dll': ('Crypt', 'SystemFunction')}

MANIFEST_NS = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3'}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def expected_version():
    """The version the build takes from the file VERSION, with its fourth part."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'VERSION')) as f:
        major, minor, patch = (int(part) for part in f.read().split('.'))
    return f'{major}.{minor}.{patch}.0', (major << 16 | minor, patch << 16)


def pe_checksums(data):
    """(the checksum the PE header holds, the one its bytes give)."""
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    checksum_at = pe + 24 + 64
    stored = struct.unpack_from('<I', data, checksum_at)[0]
    words = bytearray(data)
    words[checksum_at:checksum_at + 4] = bytes(4)
    if len(words) % 2:
        words.append(0)
    total = 0
    for (word,) in struct.iter_unpack('<H', bytes(words)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return stored, (total + len(data)) & 0xFFFFFFFF


def check_reproducible(exe, epoch, absent):
    """The time stamp the build gave, the checksum the bytes give, no build folder inside."""
    data = open(exe, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    stamp = struct.unpack_from('<I', data, pe + 8)[0]
    if epoch is not None:
        check(stamp == epoch, f'link time stamp {stamp}, not {epoch} (SOURCE_DATE_EPOCH, the last commit or the '
                              f'fixed value)')
    stored, computed = pe_checksums(data)
    check(stored == computed, f'PE checksum {stored:#x}, the bytes give {computed:#x}')
    for text in absent:
        for encoding in ('utf-8', 'utf-16-le'):
            check(text.encode(encoding) not in data, f'holds the string {text!r} ({encoding})')


def check_headers(exe, subsystem_wanted=2):
    header = run(OBJDUMP, '-f', exe).decode()
    check('file format pei-i386' in header, 'not a PE32 i386 file')
    details = run(OBJDUMP, '-p', exe).decode()
    subsystem = re.search(r'^Subsystem\s+([0-9a-f]+)', details, re.M)
    names = {2: 'Windows GUI', 3: 'Windows console'}
    check(subsystem and int(subsystem.group(1), 16) == subsystem_wanted,
          f'subsystem is not {names[subsystem_wanted]} ({subsystem_wanted})')
    major = int(re.search(r'^MajorSubsystemVersion\s+(\d+)', details, re.M).group(1))
    minor = int(re.search(r'^MinorSubsystemVersion\s+(\d+)', details, re.M).group(1))
    check((major, minor) <= (5, 1), f'subsystem version {major}.{minor} is above XP\'s 5.1')
    check('Characteristics 0x' in details and re.search(r'^\s+32 bit words', details, re.M),
          'not marked as a 32-bit image')
    return details


def imports_of(details):
    """{dll name: [function names]} from objdump's import tables."""
    imports = {}
    current = None
    for line in details.splitlines():
        dll = re.match(r'\s+DLL Name: (\S+)', line)
        if dll:
            current = imports.setdefault(dll.group(1).lower(), [])
            continue
        entry = re.match(r'\s+[0-9a-f]+\s+\d+\s+(\S+)', line)
        if current is not None and entry:
            current.append(entry.group(1))
        elif line.strip() == '':
            continue
        elif not line.startswith('\t') and not line.startswith(' '):
            current = None
    return imports


def check_imports(details, required=('kernel32.dll', 'user32.dll'), elevated=True):
    """`elevated`: the program runs as administrator from a folder others can
    write (setup.exe; not the stamping tool)."""
    imports = imports_of(details)
    check(imports, 'no import table found')
    for dll, functions in sorted(imports.items()):
        check(dll not in LOOKED_UP_AT_RUN_TIME, f'imports {dll}, which it must look up at run time')
        check(dll in SYSTEM_DLLS, f'imports a DLL that is not a system DLL: {dll}')
        for function in functions:
            check(function not in POST_XP_FUNCTIONS, f'imports {function} from {dll}, which XP lacks')
            check(not elevated or not function.startswith(FORWARDED_OUT_OF_KNOWN_DLLS.get(dll, ())),
                  f'imports {function} from {dll}, which Windows 7 and later forward to a library that is '
                  f'not a KnownDLL: it must look it up at run time')
    for dll in required:
        check(dll in imports, f'{dll} not imported')


def resources(exe):
    """[(type, name, language)] from wrestool's listing."""
    listing = run('wrestool', '-l', exe).decode()
    found = []
    for line in listing.splitlines():
        match = re.search(r'--type=(\d+) --name=(\d+) --language=(\d+)', line)
        if match:
            found.append(tuple(int(x) for x in match.groups()))
    return found


def raw_resource(exe, rtype, name, language):
    return run('wrestool', '-x', '--raw', f'--type={rtype}', f'--name={name}',
               f'--language={language}', exe)


def check_manifest(exe, listed, manifest_file):
    manifests = [r for r in listed if r[0] == 24]
    if not check(manifests == [(24, 1, 0x0409)], f'manifest resources: {manifests}'):
        return
    text = raw_resource(exe, 24, 1, 0x0409)
    with open(manifest_file, 'rb') as f:
        check(text == f.read(), 'embedded manifest differs from its source')
    root = ET.fromstring(text)
    identity = root.find('v1:dependency/v1:dependentAssembly/v1:assemblyIdentity', MANIFEST_NS)
    expected = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
                'processorArchitecture': 'x86', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}
    check(identity is not None and identity.attrib == expected,
          f'common controls dependency: {None if identity is None else identity.attrib}')
    level = root.find('v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel',
                      MANIFEST_NS)
    check(level is not None and level.attrib == {'level': 'requireAdministrator', 'uiAccess': 'false'},
          f'execution level: {None if level is None else level.attrib}')
    children = [child.tag.split('}')[1] for child in root]
    check(children == ['dependency', 'trustInfo'], f'manifest holds more than asked: {children}')
    for word in (b'compatibility', b'supportedOS', b'dpiAware', b'dpiAwareness'):
        check(word not in text, f'manifest mentions {word.decode()}')


def parse_version_node(data, offset):
    """One VS_VERSION_INFO-style node: (key, value bytes, value type, children, end)."""
    length, value_length, value_type = struct.unpack_from('<HHH', data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[key_start:key_end].decode('utf-16le')
    position = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child = parse_version_node(data, position)
        children.append(child)
        position = (child[4] + 3) & ~3
    return key, value, value_type, children, end


def check_version(exe, listed):
    if not check((16, 1, 0x0804) in listed, 'no version block 1 in language 0x0804'):
        return
    data = raw_resource(exe, 16, 1, 0x0804)
    key, fixed, _, children, _ = parse_version_node(data, 0)
    check(key == 'VS_VERSION_INFO', f'version block key {key}')
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<IIIIII', fixed)
    check(signature == 0xFEEF04BD, 'fixed version info missing')
    version, binary = expected_version()
    check((file_ms, file_ls) == binary, f'binary file version is not {version}')
    check((product_ms, product_ls) == binary, f'binary product version is not {version}')
    blocks = {child[0]: child for child in children}
    string_info = blocks.get('StringFileInfo')
    if check(string_info is not None, 'no StringFileInfo'):
        tables = {table[0]: table for table in string_info[3]}
        check(list(tables) == ['080404b0'], f'string tables: {list(tables)}')
        strings = {}
        for entry in tables.get('080404b0', (None, None, None, []))[3]:
            strings[entry[0]] = entry[1].decode('utf-16le').rstrip('\0')
        expected_keys = {'CompanyName', 'FileDescription', 'FileVersion', 'InternalName',
                         'LegalCopyright', 'OriginalFilename', 'ProductName', 'ProductVersion'}
        check(set(strings) == expected_keys, f'version strings: {sorted(strings)}')
        check(strings.get('FileVersion') == version, f'FileVersion is not {version}')
        check(strings.get('ProductVersion') == version, f'ProductVersion is not {version}')
        check(strings.get('InternalName') == 'setup.exe', 'InternalName is not setup.exe')
        check(strings.get('OriginalFilename') == 'setup.exe', 'OriginalFilename is not setup.exe')
        for name in ('CompanyName', 'ProductName', 'FileDescription', 'LegalCopyright'):
            check(strings.get(name), f'{name} is empty')
    var_info = blocks.get('VarFileInfo')
    if check(var_info is not None, 'no VarFileInfo'):
        translation = {child[0]: child[1] for child in var_info[3]}.get('Translation')
        check(translation == struct.pack('<HH', 0x0804, 1200), f'translation {translation!r}')


def check_icons(exe, listed):
    groups = [r for r in listed if r[0] == 14]
    if not check(groups == [(14, 1, 0x0804)], f'icon groups: {groups}'):
        return
    icons = sorted(r for r in listed if r[0] == 3)
    check(icons == [(3, 1, 0x0804), (3, 2, 0x0804), (3, 3, 0x0804)], f'icon images: {icons}')
    data = raw_resource(exe, 14, 1, 0x0804)
    reserved, kind, count = struct.unpack_from('<HHH', data)
    check((reserved, kind, count) == (0, 1, 3), f'icon group header {reserved}, {kind}, {count}')
    sizes = []
    for i in range(count):
        width, height, _, _, planes, bits, _, icon_id = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
        width = width or 256
        sizes.append(width)
        check(width == (height or 256) and bits == 8 and planes == 1,
              f'icon {icon_id}: {width}x{height}, {bits} bits, {planes} planes')
        image = raw_resource(exe, 3, icon_id, 0x0804)
        size, image_width, image_height, _, image_bits = struct.unpack_from('<IiiHH', image)
        colours = struct.unpack_from('<I', image, 32)[0]
        check(size == 40 and image_width == width and image_height == 2 * width and image_bits == 8,
              f'icon image {icon_id} is not an 8-bit {width}-pixel BMP image')
        check(colours in (0, 256), f'icon image {icon_id} palette of {colours} colours')
    check(sizes == [128, 48, 32], f'icon sizes {sizes}')


def check_config(exe, listed, config_file):
    configs = [r for r in listed if r[0] == 1600]
    if config_file is None:
        check(configs == [], f'configuration present although built without: {configs}')
        return
    if not check(configs == [(1600, 1601, 0x0804)], f'configuration resources: {configs}'):
        return
    with open(config_file, 'rb') as f:
        check(raw_resource(exe, 1600, 1601, 0x0804) == f.read(),
              'embedded configuration differs from its source file')


def check_tool(exe):
    details = check_headers(exe, subsystem_wanted=3)
    check_imports(details, required=('kernel32.dll',), elevated=False)


def main():
    arguments, epoch, absent = sys.argv[1:], None, []
    while arguments[:1] in (['--epoch'], ['--absent']):
        if arguments[0] == '--epoch':
            epoch = int(arguments[1])
        else:
            absent.append(arguments[1])
        arguments = arguments[2:]
    if arguments[:1] == ['--tool']:
        check_tool(arguments[1])
        check_reproducible(arguments[1], epoch, absent)
        return report(arguments[1])
    exe, manifest_file, config = arguments[0:3]
    check_reproducible(exe, epoch, absent)
    config_file = None if config == '--no-config' else config
    details = check_headers(exe)
    check_imports(details)
    listed = resources(exe)
    check_manifest(exe, listed, manifest_file)
    check_version(exe, listed)
    check_icons(exe, listed)
    check_config(exe, listed, config_file)
    known = {3, 14, 16, 24, 1600}
    check(all(r[0] in known for r in listed), f'unexpected resources: {listed}')
    return report(exe)


def report(exe):
    for failure in failures:
        print(failure)
    if not failures:
        print(f'{exe}: all checks passed')
    return 1 if failures else 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except Exception as error:  # a check that could not run has not passed
        print(f'{sys.argv[1:]}: the check could not run: {error!r}')
        sys.exit(2)
