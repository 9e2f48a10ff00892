#!/usr/bin/env python3
"""Signed copies of an installer, for the publisher pin tests.

Usage: signed_installers.py FOLDER OPENSSL OSSLSIGNCODE INSTALLER

Makes in FOLDER, with throwaway RSA keys (Wine 8 refuses some ECDSA signatures):
  a.exe          INSTALLER signed with key a, whose certificate comes from a
                 throwaway CA that nothing trusts
  b.exe          INSTALLER signed with key b, a self-signed certificate
  a-changed.exe  a.exe with one byte of its code changed
  a.key, b.key   the SHA-256 of each certificate's SubjectPublicKeyInfo (DER)
                 as 64 lower-case hexadecimal digits, computed by openssl
and last a file "done", or "failed" with the error: the test program that
starts this under Wine does not get its exit code.
"""
import hashlib
import os
import struct
import subprocess
import sys

LEAF_EXTENSIONS = "basicConstraints=critical,CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"


def main():
    folder, openssl, osslsigncode, installer = sys.argv[1:5]

    def run(*args):
        subprocess.run(args, check=True, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    new_key = ["-newkey", "rsa:2048", "-nodes"]
    run(openssl, "req", "-x509", *new_key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", f"/CN=Throwaway signing CA {os.getpid()}", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign")
    with open(os.path.join(folder, "leaf.ext"), "w") as out:
        out.write(LEAF_EXTENSIONS)
    run(openssl, "req", *new_key, "-keyout", "a.private", "-out", "a.csr", "-subj", "/CN=Throwaway Maker A")
    run(openssl, "x509", "-req", "-in", "a.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial", "4097",
        "-days", "2", "-extfile", "leaf.ext", "-out", "a.pem")
    run(openssl, "req", "-x509", *new_key, "-keyout", "b.private", "-out", "b.pem", "-days", "2",
        "-subj", "/CN=Throwaway Maker B", "-addext", "extendedKeyUsage=codeSigning")
    for name in ("a", "b"):
        run(osslsigncode, "sign", "-certs", f"{name}.pem", "-key", f"{name}.private", "-h", "sha256",
            "-in", installer, "-out", f"{name}.exe")
        public = subprocess.run([openssl, "x509", "-in", f"{name}.pem", "-pubkey", "-noout"], cwd=folder,
                                check=True, capture_output=True).stdout
        der = subprocess.run([openssl, "pkey", "-pubin", "-outform", "der"], input=public, cwd=folder,
                             check=True, capture_output=True).stdout
        with open(os.path.join(folder, f"{name}.key"), "w") as out:
            out.write(hashlib.sha256(der).hexdigest())
    # One byte inside the first section (the code), well past its start.
    image = bytearray(open(os.path.join(folder, "a.exe"), "rb").read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    raw_data = struct.unpack_from("<I", image, pe + 24 + optional_size + 20)[0]
    image[raw_data + 64] ^= 0x01
    open(os.path.join(folder, "a-changed.exe"), "wb").write(image)


if __name__ == "__main__":
    try:
        main()
        marker, text = "done", ""
    except Exception as error:  # reported through the marker: nobody sees the exit code
        marker, text = "failed", repr(error) + getattr(error, "stderr", b"").decode("utf-8", "replace")
    with open(os.path.join(sys.argv[1], marker), "w") as out:
        out.write(text)
