#!/usr/bin/env python3
"""Serves one generated body to every GET on 127.0.0.1, for the download benchmark.

Usage: bench_server.py SIZE|@BODY PORTFILE [CERT KEY]: a generated body of
SIZE bytes, or the bytes of the file BODY. Writes the chosen port to
PORTFILE, then serves until it has been idle for 10 minutes (or is ended by its
starter); with CERT and KEY (PEM files) it serves over TLS.
"""
import socket
import ssl
import sys
import threading


def serve(connection, head, body, context):
    if context is not None:
        try:
            connection.settimeout(30)
            connection = context.wrap_socket(connection, server_side=True)
        except (ssl.SSLError, OSError):
            connection.close()
            return
    with connection:
        connection.settimeout(30)
        request = b""
        while b"\r\n\r\n" not in request and len(request) < 65536:
            piece = connection.recv(4096)
            if not piece:
                return
            request += piece
        try:
            connection.sendall(head)
            connection.sendall(body)
        except OSError:
            pass  # the client went away early; nothing to report


def main():
    if sys.argv[1].startswith("@"):
        with open(sys.argv[1][1:], "rb") as source:
            body = memoryview(source.read())
        size = len(body)
    else:
        size = int(sys.argv[1])
        pattern = bytes(range(256))
        body = memoryview(pattern * (size // 256) + pattern[: size % 256])
    head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % size
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    context = None
    if len(sys.argv) == 5:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
    listener.settimeout(600)
    with open(sys.argv[2], "w") as portfile:
        portfile.write(str(listener.getsockname()[1]))
    while True:
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            return
        threading.Thread(target=serve, args=(connection, head, body, context), daemon=True).start()


if __name__ == "__main__":
    main()
