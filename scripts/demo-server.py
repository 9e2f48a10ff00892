#!/usr/bin/env python3
"""The demonstration's download server, on 127.0.0.1 only.

Serves the demo product installer at /package/brenvik/brenvik-setupv2.exe and
.../brenvik-setupv4.exe, dripped over a few seconds so that the progress can be
watched, and the runtime installer at /mirror2/NetFx20SP2_x86.exe; the first
runtime mirror, /mirror1/..., answers 404. Prints the port it listens on as the
first line of its output, and one line per request afterwards.
"""
import argparse
import http.server
import sys
import time


def make_handler(product, runtime, drip_seconds):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def send_body(self, data, seconds):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            chunks = 50 if seconds > 0 else 1
            size = (len(data) + chunks - 1) // chunks
            for start in range(0, len(data), size):
                self.wfile.write(data[start:start + size])
                self.wfile.flush()
                if seconds > 0:
                    time.sleep(seconds / chunks)

        def do_GET(self):
            if self.path.startswith("/package/brenvik/brenvik-setupv") and self.path.endswith(".exe"):
                self.send_body(product, drip_seconds)
            elif self.path.startswith("/mirror2/"):
                self.send_body(runtime, 0)
            else:
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
            self.close_connection = True

        def log_message(self, fmt, *args):
            print("request: " + fmt % args, flush=True)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--product", required=True, help="the demo product installer to serve")
    parser.add_argument("--runtime", required=True, help="the runtime installer to serve")
    parser.add_argument("--drip-seconds", type=float, default=6.0)
    args = parser.parse_args()
    with open(args.product, "rb") as f:
        product = f.read()
    with open(args.runtime, "rb") as f:
        runtime = f.read()
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), make_handler(product, runtime, args.drip_seconds))
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
