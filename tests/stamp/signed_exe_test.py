#!/usr/bin/env python3
"""A signed setup.exe through the stamping tool, and signed again afterwards.

Makes a throwaway CA and code-signing certificate with openssl in a temporary
folder, signs a copy of setup.exe with osslsigncode, stamps it with
setupstamp.exe (run under Wine through the build's wine-run.sh), and checks:
the tool's warning, no certificate table left in the output, a right PE
checksum, the same bytes as stamping the unsigned exe, and that signing the
output again verifies against that CA. And --signer: the signing key's digest
read from a signed exe (whose signature carries the CA's certificate first),
from the PEM and from the DER certificate is the one that openssl gives.

Usage: signed_exe_test.py WINE_RUN SETUPSTAMP_EXE SETUP_EXE CONFIG_TXT [--without-stamp]
WINE_RUN "-" runs the native setupstamp given in its place, without Wine.
--without-stamp hands the signed exe on as if it were the stamped one, to show
that the checks fail (and the test with them) when the table stays.
Every failed check makes the script exit with 1.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'static'))
from check_exe import pe_checksums  # noqa: E402

OPENSSL_CONFIG = """[req]
distinguished_name = dn
prompt = no
[dn]
CN = Throwaway Test CA
[ca_ext]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf_ext]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(args, cwd, expect=0):
    """Runs a program by path; returns (exit code, stdout, stderr) as text."""
    done = subprocess.run(args, cwd=cwd, capture_output=True, timeout=120)
    out = done.stdout.decode('utf-8', 'replace')
    err = done.stderr.decode('utf-8', 'replace')
    if expect is not None and done.returncode != expect:
        raise SystemExit(f'{os.path.basename(args[0])} {" ".join(args[1:3])}... exited with {done.returncode}, '
                         f'not {expect}\n{out}{err}')
    return done.returncode, out, err


def pe_fields(path):
    """(checksum, computed checksum, certificate table offset and size, file size)."""
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    security = struct.unpack_from('<II', data, directories + 4 * 8)
    stored, computed = pe_checksums(data)
    return stored, computed, security, len(data)


def make_certificates(folder):
    with open(os.path.join(folder, 'openssl.cnf'), 'w') as f:
        f.write(OPENSSL_CONFIG)
    openssl = shutil.which('openssl')
    run([openssl, 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem',
         '-days', '2', '-config', 'openssl.cnf', '-extensions', 'ca_ext'], folder)
    run([openssl, 'req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'signer.key', '-out', 'signer.csr',
         '-subj', '/CN=Throwaway Signer'], folder)
    run([openssl, 'x509', '-req', '-in', 'signer.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial',
         '-out', 'signer.pem', '-days', '2', '-extfile', 'openssl.cnf', '-extensions', 'leaf_ext'], folder)


def sign(folder, source, target):
    run([shutil.which('osslsigncode'), 'sign', '-certs', 'signer.pem', '-key', 'signer.key', '-h', 'sha256',
         '-n', 'Stamp test', '-in', source, '-out', target], folder)


def verifies(folder, name):
    code, out, err = run([shutil.which('osslsigncode'), 'verify', '-CAfile', 'ca.pem', '-in', name], folder,
                         expect=None)
    return code == 0


def check_signer_option(folder, stamp):
    openssl = shutil.which('openssl')
    public = subprocess.run([openssl, 'x509', '-in', 'signer.pem', '-pubkey', '-noout'], cwd=folder, check=True,
                            capture_output=True).stdout
    der = subprocess.run([openssl, 'pkey', '-pubin', '-outform', 'der'], input=public, cwd=folder, check=True,
                         capture_output=True).stdout
    key = hashlib.sha256(der).hexdigest()
    run([openssl, 'x509', '-in', 'signer.pem', '-outform', 'DER', '-out', 'signer.der'], folder)
    with open(os.path.join(folder, 'chain.pem'), 'w') as chain:
        chain.write(open(os.path.join(folder, 'ca.pem')).read() + open(os.path.join(folder, 'signer.pem')).read())
    run([shutil.which('osslsigncode'), 'sign', '-certs', 'chain.pem', '-key', 'signer.key', '-h', 'sha256',
         '-in', 'plain.exe', '-out', 'chained.exe'], folder)
    run(stamp + ['--signer', 'app.signer=chained.exe', '--signer', 'app.signer=signer.pem',
                 '--signer', 'net2.signer=signer.der', '--out', 'keyed.exe', 'product.txt', 'setup.exe'], folder)
    _, printed, _ = run(stamp + ['--print', 'keyed.exe'], folder)
    lines = printed.splitlines()
    check(f'app.signer={key},{key}' in lines and f'net2.signer={key}' in lines,
          f'keyed.exe does not pin the key {key}:\n{printed}')
    code, _, err = run(stamp + ['--signer', 'app.signer=plain.exe', '--check', 'product.txt'], folder, expect=None)
    check(code == 3 and 'plain.exe: error: it is not signed (no certificate table)' in err,
          f'--signer with an unsigned exe ended with {code}:\n{err}')


def main():
    arguments = [a for a in sys.argv[1:] if a != '--without-stamp']
    without_stamp = '--without-stamp' in sys.argv[1:]
    if len(arguments) != 4:
        raise SystemExit(__doc__)
    native = arguments[0] == '-'
    wine_run, tool, setup, config = (a if a == '-' else os.path.abspath(a) for a in arguments)
    for program in ('openssl', 'osslsigncode'):
        if shutil.which(program) is None:
            raise SystemExit(f'{program} is not installed (scripts/setup.sh installs it)')

    folder = tempfile.mkdtemp(prefix='setupstamp-signed-')
    try:
        make_certificates(folder)
        shutil.copy(setup, os.path.join(folder, 'setup.exe'))
        shutil.copy(tool, os.path.join(folder, 'setupstamp' if native else 'setupstamp.exe'))
        shutil.copy(config, os.path.join(folder, 'product.txt'))
        sign(folder, 'setup.exe', 'signed.exe')
        if not verifies(folder, 'signed.exe'):
            raise SystemExit('the test could not sign setup.exe: nothing to check')
        signed_table = pe_fields(os.path.join(folder, 'signed.exe'))[2]
        check(signed_table != (0, 0), 'the signed copy has no certificate table')

        stamp = [os.path.join(folder, 'setupstamp')] if native else [wine_run, 'setupstamp.exe']
        run(stamp + ['--out', 'plain.exe', 'product.txt', 'setup.exe'], folder)
        check(not verifies(folder, 'plain.exe'), 'osslsigncode verify passes an unsigned exe: its answer says nothing')
        check_signer_option(folder, stamp)
        if without_stamp:
            shutil.copy(os.path.join(folder, 'signed.exe'), os.path.join(folder, 'stamped.exe'))
            err = ''
        else:
            _, _, err = run(stamp + ['--out', 'stamped.exe', 'product.txt', 'signed.exe'], folder)
        check('signed.exe: warning: its Authenticode signature does not cover the new configuration, so '
              'stamped.exe is written without it; sign stamped.exe again' in err,
              f'no warning about the signature in:\n{err}')

        stored, computed, table, size = pe_fields(os.path.join(folder, 'stamped.exe'))
        check(table == (0, 0), f'stamped.exe still has a certificate table: offset {table[0]:#x}, size {table[1]}')
        check(stored == computed, f'stamped.exe has checksum {stored:#x}, its bytes give {computed:#x}')
        plain = open(os.path.join(folder, 'plain.exe'), 'rb').read()
        stamped = open(os.path.join(folder, 'stamped.exe'), 'rb').read()
        check(stamped == plain, f'stamping the signed exe gave other bytes ({size}) than the unsigned one '
                                f'({len(plain)})')

        sign(folder, 'stamped.exe', 'resigned.exe')
        check(verifies(folder, 'resigned.exe'), 'the stamped exe, signed again, does not verify')
        _, printed, _ = run(stamp + ['--print', 'resigned.exe'], folder)
        expected = open(config, 'rb').read().decode('gbk')
        check(printed == expected, 'the signed-again exe does not carry the stamped configuration')

        # In place: the exe itself loses its table.
        shutil.copy(os.path.join(folder, 'signed.exe'), os.path.join(folder, 'again.exe'))
        _, _, err = run(stamp + ['--in-place', 'product.txt', 'again.exe'], folder)
        check('again.exe: warning: its Authenticode signature' in err, f'no warning for --in-place in:\n{err}')
        check(pe_fields(os.path.join(folder, 'again.exe'))[2] == (0, 0), 'again.exe still has a certificate table')
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    for failure in failures:
        print(f'FAILED: {failure}')
    if failures:
        sys.exit(1)
    print('signed setup.exe: stamped without its certificate table, signed again, verified')


if __name__ == '__main__':
    main()
