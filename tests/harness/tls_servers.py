#!/usr/bin/env python3
"""Local TLS servers around one test program, for the HTTPS download tests.

Usage: tls_servers.py WORK_DIR OPENSSL COMMAND...

Makes a fresh set of certificates with OPENSSL in a new folder under WORK_DIR,
starts on 127.0.0.1 one TLS server per certificate and a CONNECT proxy, runs
COMMAND (a Windows test program through the build's wine-run.sh) with these
in its environment, then stops everything, deletes the folder and exits with
COMMAND's exit code:

  SETUP_TLS_CA            the test CA's certificate (DER), a Windows path; the
                          test imports it into the prefix's trusted roots
  SETUP_TLS_ROUTES        the folder of the servers' answers, a Windows path
  SETUP_TLS_PORT_TRUSTED      a "localhost" certificate from the test CA
  SETUP_TLS_PORT_UNTRUSTED    a "localhost" certificate from a second CA that
                              is never imported
  SETUP_TLS_PORT_WRONG_NAME   a certificate from the test CA for another name
  SETUP_TLS_PORT_EXPIRED      a "localhost" certificate from the test CA that
                              expired in 2020
  SETUP_TLS_PROXY_PORT    the proxy: CONNECT, and plain http:// requests in
                          absolute form; every 127.x.x.x address and
                          "localhost" are reached at 127.0.0.1 (so a test
                          address on 127.0.0.2 is reachable only through it)

Every server answers from the same route table: ROUTES/routes.txt, lines of
"PATH<TAB>FILE" (the request target, and a file in ROUTES whose bytes are
sent as they are, head and body, before the connection is closed; "!stall:FILE"
sends them and then nothing more until the client gives up; "!relay:PORT"
passes the request and everything after it both ways to a plain HTTP server on
127.0.0.1:PORT, breaks included). A path without a route gets a 404. Each request is appended to ROUTES/requests.log as a line
"SERVER LENGTH" followed by the request's bytes and a line feed; the proxy
appends each CONNECT line to ROUTES/proxy.log.

When COMMAND only lists tests (--gtest_list_tests), nothing is started.
Every wait is bounded; the servers are threads of this process and end with it.
"""
import os
import select
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

# Scaled in the emulated i686 guest, as the test programs scale theirs.
WAIT_SECONDS = 60 * int(os.environ.get("SETUP_TEST_WAIT_SCALE", "1"))


def run_openssl(openssl, *args):
    subprocess.run([openssl, *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(openssl, folder):
    """The test CA, a second CA, and the four server certificates, which share
    one key (server.key).

    RSA keys: Wine 8 refuses an ECDSA signature whose r or s is shorter than 32
    bytes (about one signature in 128), which made P-256 certificates fail now
    and then.
    """
    key = ["-newkey", "rsa:2048", "-nodes"]
    run_openssl(openssl, "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                "-out", f"{folder}/server.key")
    # Every run imports its own CA into the same prefix: a name of its own keeps
    # the system from taking another run's CA as the issuer.
    run_name = os.path.basename(folder)
    for ca in ("ca", "other-ca"):
        run_openssl(openssl, "req", "-x509", *key, "-keyout", f"{folder}/{ca}.key", "-out", f"{folder}/{ca}.pem",
                    "-days", "2", "-subj", f"/CN=setup {ca} {run_name}",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run_openssl(openssl, "x509", "-in", f"{folder}/ca.pem", "-outform", "DER", "-out", f"{folder}/ca.der")

    serials = {"trusted": "1001", "untrusted": "1002", "wrong-name": "1003"}

    def leaf(name, ca, host, dates=None):
        extensions = f"{folder}/{name}.ext"
        with open(extensions, "w") as out:
            out.write(f"subjectAltName=DNS:{host}\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
        run_openssl(openssl, "req", "-new", "-key", f"{folder}/server.key", "-out", f"{folder}/{name}.csr",
                    "-subj", f"/CN={host}")
        if dates is None:
            run_openssl(openssl, "x509", "-req", "-in", f"{folder}/{name}.csr", "-CA", f"{folder}/{ca}.pem",
                        "-CAkey", f"{folder}/{ca}.key", "-set_serial", serials[name],
                        "-days", "1", "-extfile", extensions, "-out", f"{folder}/{name}.pem")
            return
        # Dates in the past need the ca command, with a throwaway database.
        database = f"{folder}/{name}-db"
        os.mkdir(database)
        open(f"{database}/index.txt", "w").close()
        with open(f"{database}/serial", "w") as out:
            out.write("1004\n")
        with open(f"{database}/ca.cnf", "w") as out:
            out.write(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {database}/index.txt\n"
                      f"new_certs_dir = {database}\nserial = {database}/serial\ndefault_md = sha256\n"
                      f"policy = any\nunique_subject = no\n[any]\ncommonName = supplied\n")
        run_openssl(openssl, "ca", "-batch", "-config", f"{database}/ca.cnf", "-cert", f"{folder}/{ca}.pem",
                    "-keyfile", f"{folder}/{ca}.key", "-in", f"{folder}/{name}.csr", "-extfile", extensions,
                    "-startdate", dates[0], "-enddate", dates[1], "-notext", "-out", f"{folder}/{name}.pem")

    leaf("trusted", "ca", "localhost")
    leaf("untrusted", "other-ca", "localhost")
    leaf("wrong-name", "ca", "other.example")
    leaf("expired", "ca", "localhost", ("20200101000000Z", "20200201000000Z"))


def windows_path(path):
    """The path as a Windows program under Wine sees it (Wine maps Z: to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Routes:
    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()

    def answer(self, target):
        """The bytes to send for a request target, and whether to fall silent after them;
        or the port of a server to relay to, as an int."""
        try:
            with open(os.path.join(self.folder, "routes.txt"), encoding="utf-8") as table:
                for line in table.read().splitlines():
                    path, _, name = line.partition("\t")
                    if path != target:
                        continue
                    if name.startswith("!relay:"):
                        return int(name[len("!relay:"):]), False
                    stall = name.startswith("!stall:")
                    with open(os.path.join(self.folder, name[len("!stall:"):] if stall else name), "rb") as answer:
                        return answer.read(), stall
        except FileNotFoundError:
            pass
        return b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", False

    def record(self, log, server, data):
        with self.lock, open(os.path.join(self.folder, log), "ab") as out:
            out.write(b"%s %d\n" % (server.encode(), len(data)) + data + b"\n")


def read_head(connection):
    data = b""
    while b"\r\n\r\n" not in data and len(data) < 65536:
        piece = connection.recv(4096)
        if not piece:
            break
        data += piece
    return data


def serve_tls(name, context, routes, connection):
    try:
        with connection:
            connection.settimeout(WAIT_SECONDS)
            try:
                tls = context.wrap_socket(connection, server_side=True)
            except (ssl.SSLError, OSError):
                return  # the client refused the certificate: the test looks at its log
            with tls:
                request = read_head(tls)
                if not request:
                    return
                routes.record("requests.log", name, request)
                words = request.split(b"\r\n", 1)[0].split(b" ")
                target = words[1].decode("latin-1") if len(words) > 1 else ""
                # The absolute form ("https://host:port/path") names the same route.
                if "://" in target:
                    target = "/" + target.split("://", 1)[1].partition("/")[2]
                answer, stall = routes.answer(target)
                if isinstance(answer, int):
                    with socket.create_connection(("127.0.0.1", answer), timeout=WAIT_SECONDS) as upstream:
                        upstream.sendall(request)
                        relay(tls, upstream)
                    return  # no close_notify: a cut upstream stays a cut here
                tls.sendall(answer)
                if stall:
                    while tls.recv(4096):  # until the client gives up
                        pass
                    return
                try:
                    tls.unwrap()
                except (ssl.SSLError, OSError):
                    pass
    except (ssl.SSLError, OSError):
        pass


def pipe(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    try:
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay(client, upstream):
    """Passes bytes both ways until either side ends or falls silent for
    WAIT_SECONDS; the caller then closes both, so an end is passed on."""
    sockets = [client, upstream]
    while True:
        # TLS records already read and decrypted do not show in select.
        ready = [s for s in sockets if getattr(s, "pending", lambda: 0)()]
        if not ready:
            ready, _, _ = select.select(sockets, [], [], WAIT_SECONDS)
            if not ready:
                return
        for source in ready:
            try:
                data = source.recv(65536)
                if data:
                    (upstream if source is client else client).sendall(data)
            except (ssl.SSLError, OSError):
                data = b""
            if not data:
                return


def is_loopback(host):
    return host == b"localhost" or host.startswith(b"127.")


def forward(connection, head, line, parts):
    """A plain http:// request, passed on to 127.0.0.1. Its target is in
    absolute form, or (as Wine's WinHTTP sends it) a path with the Host line
    naming the server."""
    target = parts[1]
    if target.startswith(b"/"):
        host_line = [h for h in head.split(b"\r\n")[1:] if h.lower().startswith(b"host:")]
        authority, path = (host_line[0][5:].strip() if host_line else b""), target[1:]
    else:
        authority, _, path = target[len(b"http://"):].partition(b"/")
    host, colon, port = authority.rpartition(b":")
    if not colon:
        host, port = authority, b"80"
    if not (target.startswith((b"http://", b"/"))) or not is_loopback(host) or not port.isdigit():
        connection.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
        return
    with socket.create_connection(("127.0.0.1", int(port)), timeout=WAIT_SECONDS) as upstream:
        upstream.sendall(b"%s /%s %s" % (parts[0], path, parts[2]) + head[len(line):])
        relay(connection, upstream)


def serve_proxy(routes, connection):
    with connection:
        connection.settimeout(WAIT_SECONDS)
        try:
            head = read_head(connection)
            line = head.split(b"\r\n", 1)[0]
            routes.record("proxy.log", "proxy", line)
            parts = line.split(b" ")
            if len(parts) == 3 and parts[0] == b"GET":
                forward(connection, head, line, parts)
                return
            host, _, port = parts[1].rpartition(b":") if len(parts) == 3 else (b"", b"", b"")
            # Only to this machine: the tests reach nothing else.
            if parts[0] != b"CONNECT" or host not in (b"localhost", b"127.0.0.1") or not port.isdigit():
                connection.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                return
            with socket.create_connection(("127.0.0.1", int(port)), timeout=WAIT_SECONDS) as upstream:
                connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                back = threading.Thread(target=pipe, args=(upstream, connection), daemon=True)
                back.start()
                pipe(connection, upstream)
                back.join(WAIT_SECONDS)
        except OSError:
            pass


def listen(handler, *arguments):
    """A listener on a free port of 127.0.0.1 whose connections `handler` serves on threads of their own."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def accept():
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return  # closed at the end of the run
            threading.Thread(target=handler, args=(*arguments, connection), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener


def main():
    work, openssl, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    if "--gtest_list_tests" in command:
        sys.exit(subprocess.run(command).returncode)
    os.makedirs(work, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="tls-", dir=work)
    listeners = []
    try:
        make_certificates(openssl, folder)
        routes_folder = os.path.join(folder, "routes")
        os.mkdir(routes_folder)
        routes = Routes(routes_folder)
        environment = dict(os.environ, SETUP_TLS_CA=windows_path(f"{folder}/ca.der"),
                           SETUP_TLS_ROUTES=windows_path(routes_folder))
        for name in ("trusted", "untrusted", "wrong-name", "expired"):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(f"{folder}/{name}.pem", f"{folder}/server.key")
            listener = listen(serve_tls, name, context, routes)
            listeners.append(listener)
            environment["SETUP_TLS_PORT_" + name.upper().replace("-", "_")] = str(listener.getsockname()[1])
        proxy = listen(serve_proxy, routes)
        listeners.append(proxy)
        environment["SETUP_TLS_PROXY_PORT"] = str(proxy.getsockname()[1])
        code = subprocess.run(command, env=environment).returncode
    except subprocess.CalledProcessError as failure:
        print(f"tls_servers: {failure.cmd[1]} failed: {failure.stderr.decode(errors='replace')}", file=sys.stderr)
        code = 1
    finally:
        for listener in listeners:
            listener.close()
        shutil.rmtree(folder, ignore_errors=True)
    sys.exit(code)


if __name__ == "__main__":
    main()
