#!/usr/bin/env python3
"""A real HTTPS download server on loopback for tests and the demo.

It serves a folder (the tree tools/refdata writes: downloads/...) over HTTPS
with a certificate made at start with openssl, and logs every request. Paths
under /_test/ misbehave on purpose:

  /_test/cut/<path>    sends the headers of the whole file, half its body, and
                       closes the connection
  /_test/stall/<path>  reads the request and never answers

A second port ("stall port") accepts connections and never says a word, not
even the TLS handshake.

  download_server.py [--root DIR] [--tree DIR] [--port N] [--ready-file F] [--run CMD ARGS...]

--tree copies a folder into the served root first (the root is a fresh
temporary folder unless --root names one). With --run the command runs with
these variables set, the server stops when it ends, and its exit code is
returned:
  VNTX_DOWNLOAD_BASE   https://localhost:<port>/ (by name: Schannel, the Windows
                       build's TLS, does not match a certificate's IP addresses)
  VNTX_DOWNLOAD_CA     the certificate (PEM) to trust
  VNTX_DOWNLOAD_STALL  https://localhost:<stall port>/
  VNTX_DOWNLOAD_ROOT   the served folder (tests may put files there)
  VNTX_DOWNLOAD_LOG    the request log, one "METHOD path status" line each
Without --run it serves until it is stopped (SIGINT/SIGTERM) and writes the
same variables as KEY=VALUE lines to --ready-file (or standard output).
"""
import argparse
import http.server
import os
import select
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

stopping = threading.Event()


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", key, "-out", cert,
         "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "vntx-download-server"

    def setup(self):
        # The handshake runs here, in the connection's own thread, so that a
        # client that stalls it holds up nobody else.
        self.request.settimeout(30)
        try:
            self.request.do_handshake()
        except (ssl.SSLError, OSError):
            self.request.close()
            raise
        super().setup()

    def log_message(self, format, *args):
        pass

    def log_request(self, code="-", size="-"):
        with self.server.log_lock, open(self.server.request_log, "a") as f:
            f.write("%s %s %s\n" % (self.command, urllib.parse.unquote(self.path), code))

    def translate_path(self, path):
        return super().translate_path(path)

    def file_of(self, rest):
        p = self.translate_path("/" + rest)
        return p if os.path.isfile(p) else None

    def do_GET(self):
        if self.path.startswith("/_test/cut/"):
            return self.cut(self.path[len("/_test/cut/"):])
        if self.path.startswith("/_test/stall/"):
            return self.stall()
        return super().do_GET()

    def cut(self, rest):
        f = self.file_of(rest)
        if not f:
            return self.send_error(404)
        with open(f, "rb") as fh:
            body = fh.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[: len(body) // 2])
        self.wfile.flush()
        self.close_connection = True

    def stall(self):
        self.log_request("stalled")
        sock = self.request
        while not stopping.is_set():
            r, _, _ = select.select([sock], [], [], 0.2)
            if r:
                try:
                    if not sock.recv(1):
                        break
                except (ssl.SSLError, OSError):
                    break
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # Clients that refuse the certificate or hang up are part of the tests.
        if not isinstance(sys.exc_info()[1], (ssl.SSLError, OSError)):
            super().handle_error(request, client_address)


def silent_listener():
    """Accepts connections and keeps them open without a word."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    held = []

    def run():
        s.settimeout(0.2)
        while not stopping.is_set():
            try:
                c, _ = s.accept()
                held.append(c)
            except socket.timeout:
                pass
            except OSError:
                break
        for c in held:
            c.close()
        s.close()

    threading.Thread(target=run, daemon=True).start()
    return s.getsockname()[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root")
    ap.add_argument("--tree")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--ready-file")
    ap.add_argument("--run", nargs=argparse.REMAINDER)
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="vntx-dlserver-")
    try:
        root = os.path.abspath(a.root) if a.root else os.path.join(work, "root")
        os.makedirs(root, exist_ok=True)
        if a.tree:
            shutil.copytree(a.tree, root, dirs_exist_ok=True)
        cert, key = make_certificate(work)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)

        handler = lambda *args, **kw: Handler(*args, directory=root, **kw)  # noqa: E731
        httpd = Server(("127.0.0.1", a.port), handler)
        httpd.socket = ctx.wrap_socket(httpd.socket, server_side=True, do_handshake_on_connect=False)
        httpd.request_log = os.path.join(work, "requests.log")
        httpd.log_lock = threading.Lock()
        open(httpd.request_log, "w").close()
        port = httpd.server_address[1]
        stall = silent_listener()
        threading.Thread(target=httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()

        env = {
            "VNTX_DOWNLOAD_BASE": "https://localhost:%d/" % port,
            "VNTX_DOWNLOAD_CA": cert,
            "VNTX_DOWNLOAD_STALL": "https://localhost:%d/" % stall,
            "VNTX_DOWNLOAD_ROOT": root,
            "VNTX_DOWNLOAD_LOG": httpd.request_log,
        }
        if a.run:
            child = dict(os.environ, **env)
            # Loopback never goes through a proxy.
            for k in ("NO_PROXY", "no_proxy"):
                child[k] = ",".join(x for x in (child.get(k, ""), "127.0.0.1,localhost") if x)
            rc = subprocess.call(a.run, env=child)
        else:
            text = "".join("%s=%s\n" % kv for kv in env.items())
            if a.ready_file:
                tmp = a.ready_file + ".tmp"
                with open(tmp, "w") as f:
                    f.write(text)
                os.replace(tmp, a.ready_file)
            else:
                sys.stdout.write(text)
                sys.stdout.flush()
            done = threading.Event()
            for sig in (signal.SIGINT, signal.SIGTERM):
                signal.signal(sig, lambda *_: done.set())
            done.wait()
            rc = 0
        stopping.set()
        httpd.shutdown()
        httpd.server_close()
        return rc
    finally:
        shutil.rmtree(work, ignore_errors=True)


def start_background(tree, work):
    """This server in its own process, serving a copy of tree; returns (process,
    its variables) once it listens. Stop it with terminate()."""
    ready = os.path.join(work, "server.env")
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--tree", tree, "--ready-file", ready],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while not os.path.exists(ready):
        if time.time() > deadline or proc.poll() is not None:
            proc.kill()
            raise SystemExit("the download server did not start")
        time.sleep(0.05)
    with open(ready) as f:
        env = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    return proc, env


if __name__ == "__main__":
    sys.exit(main())
