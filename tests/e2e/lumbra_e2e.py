"""Shared pieces of the end-to-end tests: the real proxy in a private folder, a
scripted origin server on loopback, and raw HTTP over sockets."""

import http.server
import os
import re
import resource
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

BINARY = os.environ.get("LUMBRA_BINARY", "build/lumbra")
SOURCE_DIR = os.environ.get("LUMBRA_SOURCE_DIR", ".")
LOOPBACK = "127.0.0.1"
WAIT = 10.0  # seconds any single wait may take


def free_port():
    with socket.socket() as probe:
        probe.bind((LOOPBACK, 0))
        return probe.getsockname()[1]


def wait_until(condition, timeout=WAIT, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def make_config(port, rules="", enabled=True, corporate=None, extra=""):
    """A lumbra.xml with filtering on or off, the given filterrule elements and,
    when `corporate` is (host, port), that upstream proxy enabled; `extra` is more
    elements of "lumbra"."""
    corporate_host, corporate_port = corporate or ("proxy.invalid", 8080)
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\r\n'
        " <lumbra>\r\n"
        f"  <enabled>{'yes' if enabled else 'no'}</enabled>\r\n"
        "  <version>1</version>\r\n"
        f"  <proxyport>{port}</proxyport>\r\n"
        f'  <corporateproxy url="{corporate_host}" port="{corporate_port}">\r\n'
        f"   <enabled>{'yes' if corporate else 'no'}</enabled>\r\n"
        "  </corporateproxy>\r\n"
        f"  <filterrules>\r\n{rules}\r\n  </filterrules>\r\n"
        f"{extra}"
        " </lumbra>\r\n"
    )


def rule(body, name="test"):
    return f'<filterrule name="{name}"><enabled>yes</enabled>{body}</filterrule>'


class Lumbra:
    """build/lumbra running with its own configuration and runtime folders."""

    def __init__(self, rules="", enabled=True, corporate=None, port=None, extra="", env=None):
        self.folder = tempfile.mkdtemp(prefix="lumbra-e2e-")
        self.port = port or free_port()
        config_folder = os.path.join(self.folder, "config", "Lumbra_Corvane")
        os.makedirs(config_folder)
        os.makedirs(os.path.join(self.folder, "runtime"))
        with open(os.path.join(config_folder, "lumbra.xml"), "w", newline="") as f:
            f.write(make_config(self.port, rules, enabled, corporate, extra))
        self.env = dict(os.environ,
                        XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.folder, "runtime"),
                        # Parked worker threads end soon, so thread counts come back.
                        LUMBRA_WORKER_IDLE_MS="200", **(env or {}))
        self.process = None
        self.output = ""

    def start(self, expect_listening=True, max_descriptors=None):
        """`max_descriptors`: a number for both the soft and the hard limit, or a
        (soft, hard) pair."""
        def limit():
            if max_descriptors:
                pair = max_descriptors if isinstance(max_descriptors, tuple) else (
                    max_descriptors, max_descriptors)
                resource.setrlimit(resource.RLIMIT_NOFILE, pair)

        self.process = subprocess.Popen([BINARY], env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        text=True, preexec_fn=limit)
        if expect_listening:
            self.output = self.process.stdout.readline()
            if "listens on port" not in self.output:
                self.stop()
                raise RuntimeError("lumbra did not start: " + self.output)
        return self

    def stop(self):
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        self.process = None
        return status

    def close(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def descriptor_count(self):
        return len(os.listdir(f"/proc/{self.process.pid}/fd"))

    def thread_count(self):
        return len(os.listdir(f"/proc/{self.process.pid}/task"))

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return int(re.search(r"VmRSS:\s*(\d+)", status.read()).group(1))

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def is_alive(self):
        return self.process is not None and self.process.poll() is None

    def connect(self):
        return socket.create_connection((LOOPBACK, self.port), timeout=WAIT)


def read_head(sock):
    """Reads up to the end of a header block; returns (head, rest) as bytes, head
    empty when the peer closed first."""
    data = b""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(65536)
        if not piece:
            return b"", data
        data += piece
    end = data.index(b"\r\n\r\n") + 4
    return data[:end], data[end:]


def header(head, name):
    """The value of the first header line named `name` (any case), or None."""
    for line in head.split(b"\r\n")[1:]:
        field, _, value = line.partition(b":")
        if field.strip().lower() == name.lower().encode():
            return value.strip()
    return None


def content_length(head):
    value = header(head, "Content-Length")
    return None if value is None else int(value)


def read_response(sock):
    """One response with a Content-Length: (head, body) as bytes; (b"", b"") when
    the connection closed without one."""
    head, body = read_head(sock)
    if not head:
        return b"", b""
    length = content_length(head) or 0
    while len(body) < length:
        piece = sock.recv(65536)
        if not piece:
            break
        body += piece
    return head, body


def read_until_closed(sock):
    data = b""
    while True:
        try:
            piece = sock.recv(65536)
        except (ConnectionResetError, socket.timeout):
            break
        if not piece:
            break
        data += piece
    return data


def response(body, content_type="text/html", extra=""):
    if isinstance(body, str):
        body = body.encode()
    return (f"HTTP/1.1 200 OK\r\nContent-Type: {content_type}\r\n"
            f"Content-Length: {len(body)}\r\n{extra}\r\n").encode() + body


def get(where, path, method="GET", extra=""):
    """A request for `path` on `where` (an Origin, or "host:port") as a browser sends it."""
    address = where if isinstance(where, str) else f"{LOOPBACK}:{where.port}"
    return f"{method} http://{address}{path} HTTP/1.1\r\nHost: {address}\r\n{extra}\r\n".encode()


def relayed(request):
    """`request` as the proxy passes it on: its target without scheme and host."""
    return re.sub(rb"^(\S+) http://[^/ ]+", rb"\1 ", request, count=1)


def chunked(*pieces, extension=b"", trailers=b""):
    """`pieces` as a chunked body, each chunk with the given extension text."""
    body = b"".join(b"%x%s\r\n%s\r\n" % (len(p), extension, p) for p in pieces)
    return body + b"0\r\n" + trailers + b"\r\n"


class Stream:
    """Reads HTTP messages off one socket as they were sent (chunked bodies stay
    chunked), keeping bytes that arrived early for the next read. A browser's receive
    that times out fails the test; a peer that closed (or reset) mid-message raises
    EOFError; broken framing raises ValueError. An origin's stream adds every byte it
    receives to the origin's `received`."""

    def __init__(self, sock, origin=None):
        self.sock, self.origin, self.pending = sock, origin, b""

    @classmethod
    def to(cls, proxy):
        """A browser connected to the proxy, sending each write at once."""
        sock = proxy.connect()
        sock.settimeout(5.0)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return cls(sock)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.sock.close()

    def send(self, data):
        self.sock.sendall(data)

    def _fill(self):
        try:
            piece = self.sock.recv(65536)
        except ConnectionResetError:
            piece = b""
        except socket.timeout:
            if self.origin:
                raise
            raise AssertionError(f"nothing more arrived, nor a close, after {self.pending!r}") from None
        if not piece:
            raise EOFError(f"the peer closed with {len(self.pending)} bytes of a message read")
        if self.origin:
            with self.origin.lock:
                self.origin.received += piece
        self.pending += piece

    def take(self, count):
        while len(self.pending) < count:
            self._fill()
        taken, self.pending = self.pending[:count], self.pending[count:]
        return taken

    def line(self, end=b"\r\n"):
        """Everything through the next `end`."""
        while end not in self.pending:
            self._fill()
        return self.take(self.pending.index(end) + len(end))

    def head(self):
        return self.line(b"\r\n\r\n")

    def body(self, head, until_close=False):
        """The body as sent: a chunked one with its sizes, extensions and trailers."""
        if re.search(rb"\ntransfer-encoding:[^\r]*chunked[ \t]*\r", head, re.I):
            raw = line = self.line()
            while int(line.split(b";")[0], 16):
                raw += self.take(int(line.split(b";")[0], 16) + 2)
                if not raw.endswith(b"\r\n"):
                    raise ValueError(f"chunk data not followed by CRLF in {raw!r}")
                line = self.line()
                raw += line
            while not raw.endswith(b"\r\n\r\n"):
                raw += self.line()
            return raw
        length = content_length(head)
        if length is not None:
            return self.take(length)
        return self.until_closed() if until_close else b""

    def answer(self, method="GET"):
        """The next answer, interim ones included: (head, body)."""
        head = self.head()
        status = int(head.split(b" ", 2)[1])
        if method == "HEAD" or status < 200 or status in (204, 304):
            return head, b""
        return head, self.body(head, until_close=True)

    def answer_if_any(self, method="GET"):
        """The next answer, or (b"", b"") when the peer closed first."""
        try:
            return self.answer(method)
        except EOFError:
            return b"", b""

    def until_closed(self):
        """Everything up to the peer's close."""
        try:
            while True:
                self._fill()
        except EOFError:
            rest, self.pending = self.pending, b""
            return rest


class ProxyTest(unittest.TestCase):
    """Test cases whose every test has a proxy of its own, `self.proxy`, filtering by
    the class's `RULES`."""

    RULES = ""

    def setUp(self):
        self.proxy = Lumbra(self.RULES).start()
        self.addCleanup(self.proxy.close)


class LeakCheckedProxyTest(ProxyTest):
    """A ProxyTest whose proxy must end every test with the descriptors and threads
    it began it with."""

    def setUp(self):
        super().setUp()
        self.before = (self.proxy.descriptor_count(), self.proxy.thread_count())

    def tearDown(self):
        self.assertTrue(wait_until(lambda: (self.proxy.descriptor_count(),
                                            self.proxy.thread_count()) == self.before),
                        (self.proxy.descriptor_count(), self.proxy.thread_count(), self.before))


class Closing(list):
    """An Origin answer (its pieces) after which the origin closes the connection."""


class Upgrading(list):
    """An Origin answer (its pieces) after which the origin echoes every byte it
    receives, keeping a copy in `Origin.tunnelled`."""


class Origin:
    """A keep-alive HTTP origin on loopback. `handler(request_bytes)` returns the
    answer: bytes, or a list of byte pieces sent with a pause between them (a
    Closing list closes the connection after them, an Upgrading list turns it into
    an echo), or None to close without answering. Request bodies are read by
    Content-Length or chunked; a request asking for "100-continue" is answered
    "100 Continue" before its body is read. It counts accepted connections, keeps
    every request it read and every byte it received (`received`)."""

    def __init__(self, handler=None, pause=0.3):
        self.handler = handler or (lambda request: response("hello"))
        self.pause = pause
        self.requests = []
        self.received = b""
        self.tunnelled = b""
        self.connections = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((LOOPBACK, 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.open_sockets = []
        self.running = True
        self.thread = threading.Thread(target=self._accept_loop, daemon=True)
        self.thread.start()

    def _accept_loop(self):
        while self.running:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                self.open_sockets.append(conn)
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        conn.settimeout(WAIT)
        stream = Stream(conn, self)
        try:
            while self.running:
                try:
                    head = stream.head()
                except EOFError:
                    return
                if re.search(rb"\nexpect:[ \t]*100-continue[ \t]*\r", head, re.I):
                    conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
                try:
                    request = head + stream.body(head)
                except (EOFError, ValueError):
                    return
                with self.lock:
                    self.requests.append(request)
                answer = self.handler(request)
                if answer is None:
                    return
                pieces = answer if isinstance(answer, list) else [answer]
                for index, piece in enumerate(pieces):
                    if index:
                        time.sleep(self.pause)
                    conn.sendall(piece)
                if isinstance(answer, Closing):
                    return
                if isinstance(answer, Upgrading):
                    self._echo(conn, stream)
                    return
        except OSError:
            return
        finally:
            conn.close()

    def _echo(self, conn, stream):
        data, stream.pending = stream.pending, b""
        while True:
            if data:
                with self.lock:
                    self.tunnelled += data
                conn.sendall(data)
            data = conn.recv(65536)
            if not data:
                return

    def close(self):
        self.running = False
        self.listener.close()
        with self.lock:
            for conn in self.open_sockets:
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class TlsServer:
    """An HTTPS server on loopback whose certificate (for localhost and 127.0.0.1, `cert`)
    is its own authority. `answer(path)` gives (status, body) for every GET, or
    (status, body, headers) with more header lines as a dict."""

    def __init__(self, answer):
        self.folder = tempfile.mkdtemp(prefix="lumbra-tls-")
        self.cert = os.path.join(self.folder, "cert.pem")
        key = os.path.join(self.folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:P-256", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                        "-keyout", key, "-out", self.cert],
                       check=True, capture_output=True, timeout=60)

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                status, body, *more = answer(self.path)
                self.send_response(status)
                self.send_header("Content-Type", "text/html")
                for name, value in (more[0] if more else {}).items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer((LOOPBACK, 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.url = f"https://{LOOPBACK}:{self.port}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.folder, ignore_errors=True)
