"""Who may use the proxy. A computer on the local network is played by a network
namespace of the test's own, joined to the test's namespace by a veth pair with
private addresses (nothing on it reaches a real network). It gets nothing until
"allowlan" is switched on, its requests never reach a server meanwhile, and a peer
with a public address is refused even then."""

import ctypes
import http.server
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import WAIT, Lumbra, content_length, read_head, read_response, wait_until

# This side of the veth pair, and the peer's side; /30 networks each.
PROXY_SIDE, PEER = "10.254.213.1", "10.254.213.2"
PUBLIC_SIDE, PUBLIC_PEER = "203.0.113.1", "203.0.113.2"

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)


def _set_namespace(descriptor):
    if _libc.setns(descriptor, CLONE_NEWNET) != 0:
        error = ctypes.get_errno()
        raise OSError(error, os.strerror(error))


def _run(*command):
    subprocess.run(command, check=True, capture_output=True, timeout=WAIT)


class PeerNamespace:
    """A network namespace held open by a sleeping process, with one end of a veth
    pair; the other end stays here. Everything is removed again by close()."""

    def __init__(self):
        self.link = f"lmb{os.getpid()}"
        self.holder = None
        self.namespace = None
        self.own = None
        try:
            self._make()
        except BaseException:
            self.close()
            raise

    def _make(self):
        self.holder = subprocess.Popen(["unshare", "-n", "sleep", "600"])
        pid = str(self.holder.pid)
        # unshare becomes sleep once the namespace exists, or ends when it cannot make one.
        wait_until(lambda: self.holder.poll() is not None or _command_name(pid) == "sleep")
        if _command_name(pid) != "sleep":
            raise RuntimeError("unshare -n did not make a namespace")
        self.namespace = os.open(f"/proc/{pid}/ns/net", os.O_RDONLY)
        self.own = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        peer_link = self.link + "p"
        _run("ip", "link", "add", self.link, "type", "veth", "peer", "name", peer_link)
        _run("ip", "link", "set", peer_link, "netns", pid)
        inside = ("nsenter", "-t", pid, "-n")
        for side, link, addresses in (((), self.link, (PROXY_SIDE, PUBLIC_SIDE)),
                                      (inside, peer_link, (PEER, PUBLIC_PEER))):
            for address in addresses:
                _run(*side, "ip", "addr", "add", address + "/30", "dev", link)
            _run(*side, "ip", "link", "set", link, "up")
        if not wait_until(lambda: _is_up(self.link)):
            raise RuntimeError("the veth pair did not come up")

    def socket(self):
        """A TCP socket of the peer's namespace (a socket keeps the namespace it was
        made in)."""
        _set_namespace(self.namespace)
        try:
            return socket.socket()
        finally:
            _set_namespace(self.own)

    def close(self):
        # Deleting one end removes both; the namespace goes with its last holder.
        subprocess.run(["ip", "link", "del", self.link], capture_output=True, timeout=WAIT)
        for descriptor in (self.namespace, self.own):
            if descriptor is not None:
                os.close(descriptor)
        if self.holder is not None:
            self.holder.kill()
            self.holder.wait(timeout=WAIT)


def _command_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as comm:
            return comm.read().strip()
    except OSError:
        return ""


def _is_up(link):
    # Not /sys/class/net: sysfs may belong to another namespace than the test's.
    shown = subprocess.run(["ip", "-o", "link", "show", "dev", link], capture_output=True,
                           text=True, timeout=WAIT).stdout
    return "LOWER_UP" in shown


class CountingOrigin:
    """An HTTP origin on this side of the veth pair that counts the connections
    made to it."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Length", "5")
                self.end_headers()
                self.wfile.write(b"hello")

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True
            connections = 0

            def verify_request(self, request, client_address):
                self.connections += 1
                return True

        self.server = Server((PROXY_SIDE, 0), Handler)
        self.address = f"{PROXY_SIDE}:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    @property
    def connections(self):
        return self.server.connections

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def set_allow_lan(proxy, text):
    path = os.path.join(proxy.folder, "config", "Lumbra_Corvane", "lumbra.xml")
    with open(path, newline="") as f:
        lines = [line for line in f.read().split("\r\n") if "<allowlan>" not in line]
    lines.insert(lines.index(" </lumbra>"), f"  <allowlan>{text}</allowlan>")
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines))


class PeerAccessTest(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0 or not all(shutil.which(tool) for tool in ("ip", "unshare",
                                                                         "nsenter")):
            self.skipTest("making a network namespace with a veth pair needs root, ip, "
                          "unshare and nsenter")
        try:
            self.peer = PeerNamespace()
        except (OSError, RuntimeError, subprocess.SubprocessError) as error:
            self.skipTest(f"this machine cannot make a network namespace with a veth pair: "
                          f"{getattr(error, 'stderr', None) or error}")
        self.addCleanup(self.peer.close)
        self.origin = CountingOrigin()
        self.addCleanup(self.origin.close)
        self.proxy = Lumbra()
        self.addCleanup(self.proxy.close)

    def exchange(self, request, source=PEER, proxy_address=PROXY_SIDE):
        """Sends `request` from the peer; returns what came back: all of it when the
        proxy closed without a whole head, else the head and its Content-Length body."""
        with self.peer.socket() as sock:
            sock.settimeout(WAIT)
            sock.bind((source, 0))
            sock.connect((proxy_address, self.proxy.port))
            try:
                sock.sendall(request)
                head, rest = read_head(sock)
                while head and len(rest) < (content_length(head) or 0):
                    piece = sock.recv(65536)
                    if not piece:
                        break
                    rest += piece
            except (BrokenPipeError, ConnectionResetError):
                return b""
            return head + rest

    def get(self, target, **where):
        """An absolute-form GET of `target` from the peer."""
        host = target.split("/")[2]
        return self.exchange(f"GET {target} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode(), **where)

    def connect(self, **where):
        address = self.origin.address
        return self.exchange(f"CONNECT {address} HTTP/1.1\r\nHost: {address}\r\n\r\n".encode(),
                             **where)

    def reload(self, allow_lan, served):
        set_allow_lan(self.proxy, allow_lan)
        self.proxy.process.send_signal(signal.SIGHUP)
        page = f"http://{self.origin.address}/"
        self.assertTrue(wait_until(lambda: self.get(page).endswith(b"hello") == served),
                        f"allowlan {allow_lan!r}: the peer is {'not ' * served}served")

    def test_local_network_only_when_allowed_and_public_peers_never(self):
        page = f"http://{self.origin.address}/"
        self.proxy.start()
        self.assertIn("for this machine only;", self.proxy.output)
        # By default a neighbour is closed without an answer and reaches no server.
        self.assertEqual(self.get(page), b"")
        self.assertEqual(self.connect(), b"")
        self.assertEqual(self.origin.connections, 0)
        # This machine is served also from its own address on that network.
        with socket.create_connection((PROXY_SIDE, self.proxy.port), timeout=WAIT) as local:
            local.sendall(f"GET {page} HTTP/1.1\r\nHost: {self.origin.address}\r\n\r\n".encode())
            self.assertEqual(read_response(local)[1], b"hello")
        self.assertEqual(self.origin.connections, 1)

        self.reload("yes", served=True)
        self.assertTrue(self.connect().startswith(b"HTTP/1.0 200 "))
        # The control panel stays for loopback peers only.
        panel = f"http://127.0.0.1:{self.proxy.port}/api/state"
        self.assertEqual(self.get(panel), b"")
        self.assertEqual(self.get(f"http://{PROXY_SIDE}:{self.proxy.port}/"), b"")
        before = self.origin.connections
        public = {"source": PUBLIC_PEER, "proxy_address": PUBLIC_SIDE}
        self.assertEqual(self.get(page, **public), b"")
        self.assertEqual(self.connect(**public), b"")
        self.assertEqual(self.origin.connections, before)

        self.reload("no", served=False)

        # Read at start-up too, in any letter case.
        self.proxy.stop()
        set_allow_lan(self.proxy, "YES")
        self.proxy.start()
        self.assertIn("for this machine and the local network;", self.proxy.output)
        self.assertTrue(self.get(page).endswith(b"hello"))
        self.assertEqual(self.get(page, **public), b"")


if __name__ == "__main__":
    unittest.main()
