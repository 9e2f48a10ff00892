#!/usr/bin/env python3
"""Serves one generated file on 127.0.0.1 at a capped rate per connection.

Usage: capped_server.py SIZE PORTFILE [--rate BYTES_PER_S] [--total BYTES_PER_S] [--silent-ranges]

A file of SIZE bytes (a repeating pattern) answers every GET with a strong
ETag and "Accept-Ranges: bytes". "Range: bytes=A-B", "bytes=A-" and
"bytes=-N" (one range) get a 206 with its Content-Range, unless an If-Range
names another validator (then the whole file, 200); a range that starts past
the end gets a 416. Connections are kept open between requests (HTTP/1.1)
unless the client says "Connection: close".

--silent-ranges reads every request with a Range and never answers it (the
connection stays open until the client goes), as a host that takes further
connections and leaves them waiting.

--rate caps what each connection sends (a token bucket per connection);
--total caps all connections together (one bucket that they share). Without
either the file goes as fast as the loopback takes it, which shows the
clients' own limit.

"GET /stats" answers "connections C requests R bytes B": the connections
that asked for the file, their requests and the body bytes sent since the
previous /stats, which starts the next count. The benchmark asks it after
each fetch to show how many connections a client really opened.

Writes the chosen port to PORTFILE, then serves until it has been idle for
10 minutes (or is ended by its starter).
"""
import argparse
import re
import threading
import time

from bench_server import listen_and_serve

ETAG = b'"capped-1"'
CHUNK = 16384
RANGE = re.compile(rb"^bytes=(\d*)-(\d*)$")


class Bucket:
    """Tokens in bytes, filled at `rate` per second up to `burst`."""

    def __init__(self, rate):
        self.rate = rate
        self.burst = max(CHUNK, rate // 8)
        self.tokens = self.burst
        self.stamp = time.monotonic()
        self.lock = threading.Lock()

    def take(self, count):
        """Waits until `count` bytes may go, then takes them."""
        while True:
            with self.lock:
                now = time.monotonic()
                self.tokens = min(self.burst, self.tokens + (now - self.stamp) * self.rate)
                self.stamp = now
                if self.tokens >= count:
                    self.tokens -= count
                    return
                wait = (count - self.tokens) / self.rate
            time.sleep(wait)


class Counts:
    def __init__(self):
        self.lock = threading.Lock()
        self.connections = self.requests = self.bytes = 0

    def add(self, connections=0, requests=0, sent=0):
        with self.lock:
            self.connections += connections
            self.requests += requests
            self.bytes += sent

    def take(self):
        with self.lock:
            text = b"connections %d requests %d bytes %d\n" % (self.connections, self.requests, self.bytes)
            self.connections = self.requests = self.bytes = 0
            return text


def choose_range(fields, size):
    """(status, start, end) for a request's Range and If-Range; end is exclusive."""
    asked = fields.get(b"range")
    if asked is None:
        return 200, 0, size
    if b"if-range" in fields and fields[b"if-range"] != ETAG:
        return 200, 0, size
    match = RANGE.match(asked.strip())
    if match is None or match.group(1) == match.group(2) == b"":
        return 200, 0, size  # not a form served here: the whole file, as RFC 9110 allows
    if match.group(1) == b"":
        start = max(size - int(match.group(2)), 0)
        return 206, start, size
    start = int(match.group(1))
    end = size if match.group(2) == b"" else min(int(match.group(2)) + 1, size)
    if start >= size or end <= start:
        return 416, 0, 0
    return 206, start, end


def head_for(status, start, end, size, keep_open):
    if status == 416:
        head = b"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\nContent-Length: 0\r\n" % size
    elif status == 206:
        head = b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n" % (start, end - 1, size)
    else:
        head = b"HTTP/1.1 200 OK\r\n"
    if status != 416:
        head += b"Content-Length: %d\r\n" % (end - start)
    head += b"ETag: " + ETAG + b"\r\nAccept-Ranges: bytes\r\n"
    head += b"Connection: keep-alive\r\n" if keep_open else b"Connection: close\r\n"
    return head + b"\r\n"


def read_request(connection, pending):
    """(head, rest) of the next request, or (None, b"") when the client is gone."""
    while b"\r\n\r\n" not in pending:
        if len(pending) > 65536:
            return None, b""
        piece = connection.recv(4096)
        if not piece:
            return None, b""
        pending += piece
    head, rest = pending.split(b"\r\n\r\n", 1)
    return head, rest


def serve(connection, body, rate, total, counts, silent_ranges=False):
    own = Bucket(rate) if rate else None
    counted = False
    pending = b""
    with connection:
        connection.settimeout(60)
        try:
            while True:
                head, pending = read_request(connection, pending)
                if head is None:
                    return
                lines = head.split(b"\r\n")
                parts = lines[0].split(b" ")
                fields = {}
                for line in lines[1:]:
                    name, _, value = line.partition(b":")
                    fields[name.strip().lower()] = value.strip()
                keep_open = parts[-1] == b"HTTP/1.1" and fields.get(b"connection", b"").lower() != b"close"
                if len(parts) > 1 and parts[1] == b"/stats":
                    text = counts.take()
                    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s"
                                       % (len(text), text))
                    return
                if not counted:
                    counts.add(connections=1)
                    counted = True
                counts.add(requests=1)
                if silent_ranges and b"range" in fields:
                    while connection.recv(4096):  # until the client gives up
                        pass
                    return
                status, start, end = choose_range(fields, len(body))
                connection.sendall(head_for(status, start, end, len(body), keep_open))
                at = start
                while at < end:
                    count = min(CHUNK, end - at)
                    if own is not None:
                        own.take(count)
                    if total is not None:
                        total.take(count)
                    connection.sendall(body[at:at + count])
                    counts.add(sent=count)
                    at += count
                if not keep_open:
                    return
        except OSError:
            return  # the client went away; nothing to report


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("size", type=int)
    parser.add_argument("portfile")
    parser.add_argument("--rate", type=int, default=0, help="bytes per second per connection (0: no cap)")
    parser.add_argument("--total", type=int, default=0, help="bytes per second in all (0: no cap)")
    parser.add_argument("--silent-ranges", action="store_true", help="never answer a request with a Range")
    arguments = parser.parse_args()
    pattern = bytes(range(256))
    body = memoryview(pattern * (arguments.size // 256) + pattern[: arguments.size % 256])
    total = Bucket(arguments.total) if arguments.total else None
    counts = Counts()
    listen_and_serve(arguments.portfile,
                     lambda connection: serve(connection, body, arguments.rate, total, counts, arguments.silent_ranges))


if __name__ == "__main__":
    main()
