#!/usr/bin/env python3
"""Serves one generated body to every GET on 127.0.0.1, for the download benchmark.

Usage: bench_server.py SIZE|@BODY PORTFILE [CERT KEY]: a generated body of
SIZE bytes, or the bytes of the file BODY. Writes the chosen port to
PORTFILE, then serves until it has been idle for 10 minutes (or is ended by its
starter); with CERT and KEY (PEM files) it serves over TLS.

The body carries an ETag and honours "Range: bytes=N-" with a matching
If-Range. A path ending in "/broken3.bin" breaks three times: a request from
byte 0 is cut at a quarter of the body, one from a quarter at half, one from
half at three quarters; the rest is served whole.
"""
import socket
import ssl
import sys
import threading


ETAG = b'"bench-1"'


def answer(request, body):
    """The head and the slice of the body to send for a request."""
    size = len(body)
    start, end = 0, size
    lines = request.split(b"\r\n")
    fields = dict(line.split(b": ", 1) for line in lines[1:] if b": " in line)
    ranged = fields.get(b"Range", b"").startswith(b"bytes=") and fields.get(b"If-Range") == ETAG
    if ranged:
        start = int(fields[b"Range"][len(b"bytes="):].rstrip(b"-"))
    if lines[0].split(b" ")[1].endswith(b"/broken3.bin") and start < size * 3 // 4:
        end = (start // (size // 4) + 1) * (size // 4)
    if ranged:
        head = b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n" % (start, size - 1, size)
    else:
        head = b"HTTP/1.1 200 OK\r\n"
    head += b"Content-Length: %d\r\nETag: %s\r\n\r\n" % (size - start, ETAG)
    return head, body[start:end]


def serve(connection, body, context):
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
        head, piece = answer(request, body)
        try:
            connection.sendall(head)
            connection.sendall(piece)
        except OSError:
            pass  # the client went away early; nothing to report


def listen_and_serve(portfile, handle):
    """Listens on a free port of 127.0.0.1, writes it to `portfile` and calls
    handle(connection) on a thread of its own for each connection, until none
    has come for 10 minutes."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.settimeout(600)
    with open(portfile, "w") as written:
        written.write(str(listener.getsockname()[1]))
    while True:
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            return
        threading.Thread(target=handle, args=(connection,), daemon=True).start()


def main():
    if sys.argv[1].startswith("@"):
        with open(sys.argv[1][1:], "rb") as source:
            body = memoryview(source.read())
        size = len(body)
    else:
        size = int(sys.argv[1])
        pattern = bytes(range(256))
        body = memoryview(pattern * (size // 256) + pattern[: size % 256])
    context = None
    if len(sys.argv) == 5:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
    listen_and_serve(sys.argv[2], lambda connection: serve(connection, body, context))


if __name__ == "__main__":
    main()
