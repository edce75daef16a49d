"""CONNECT: curl through the proxy to a TLS server, bytes inside a tunnel passing
untouched in both directions, and a CONNECT on a kept-alive connection."""

import hashlib
import os
import socket
import ssl
import subprocess
import struct
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, WAIT, LeakCheckedProxyTest, Origin, ProxyTest, TlsServer,
                        read_head, read_response, read_until_closed, response, rule)

# Rules that would rewrite and block what the tunnels carry, were it filtered.
RULES = (rule('<content contains="secretword" action="remove"/>'
              '<content tag="div" attribname="id" attribvalue="ad"/>')
         + rule('<response contains="forbidden-text"/>', "block"))
PAGE = b'<p>secretword</p><div id="ad">forbidden-text</div>'


class EchoServer:
    """Sends back every byte it receives on each connection and keeps a copy; with
    `reset_after`, resets a connection once that many bytes have come."""

    def __init__(self, reset_after=None):
        self.received = bytearray()
        self.reset_after = reset_after
        self.listener = socket.create_server((LOOPBACK, 0), backlog=64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        with conn:
            while True:
                try:
                    data = conn.recv(65536)
                except OSError:
                    return
                if not data:
                    return
                self.received += data
                if self.reset_after is not None and len(self.received) >= self.reset_after:
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return
                conn.sendall(data)

    def close(self):
        self.listener.close()


def connect_request(target, host):
    return f"CONNECT {target} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode()


def open_tunnel(proxy, echo):
    browser = proxy.connect()
    target = f"{LOOPBACK}:{echo.port}"
    browser.sendall(connect_request(target, target))
    head, rest = read_head(browser)
    assert head.startswith(b"HTTP/1.0 200") and not rest, head
    return browser


def send_ignoring_reset(sock, data):
    try:
        sock.sendall(data)
    except OSError:
        pass


def receive_exactly(sock, count):
    data = b""
    while len(data) < count:
        piece = sock.recv(count - len(data))
        if not piece:
            break
        data += piece
    return data


class ConnectTest(ProxyTest):
    RULES = RULES

    @classmethod
    def setUpClass(cls):
        cls.tls = TlsServer(lambda path: (200, PAGE))

    @classmethod
    def tearDownClass(cls):
        cls.tls.close()

    def test_curl_reaches_a_tls_server_through_the_tunnel(self):
        # curl sends "Host: localhost:<port>", as browsers do.
        result = subprocess.run(
            ["curl", "-sS", "-k", "--max-time", str(int(WAIT)), "--proxy",
             f"http://{LOOPBACK}:{self.proxy.port}", f"https://localhost:{self.tls.port}/"],
            capture_output=True, timeout=WAIT * 2)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, PAGE)

    def test_tunnel_bytes_pass_untouched_both_ways(self):
        echo = EchoServer()
        try:
            with self.proxy.connect() as browser:
                target = f"{LOOPBACK}:{echo.port}"
                browser.sendall(connect_request(target, target))
                head, rest = read_head(browser)
                self.assertEqual(head, b"HTTP/1.0 200 Connection established\r\n\r\n")
                self.assertEqual(rest, b"")
                # Looks like a request and a page, holds a NUL: none of it is touched.
                payload = (b"GET http://elsewhere.invalid/ HTTP/1.1\r\nHost: elsewhere.invalid"
                           b"\r\n\r\n" + PAGE + b"\x00" + bytes(range(256)))
                for piece in (payload, b"POST " + payload):
                    browser.sendall(piece)
                    self.assertEqual(receive_exactly(browser, len(piece)), piece)
            self.assertEqual(echo.received, payload + b"POST " + payload)
        finally:
            echo.close()

    def test_bytes_sent_right_behind_the_connect_reach_the_server(self):
        first, second = EchoServer(), EchoServer()
        try:
            with self.proxy.connect() as browser:
                # As the first request of the connection...
                target = f"{LOOPBACK}:{first.port}"
                browser.sendall(connect_request(target, target) + b"early bytes")
                answer = b"HTTP/1.0 200 Connection established\r\n\r\n"
                self.assertEqual(receive_exactly(browser, len(answer) + 11),
                                 answer + b"early bytes")
            with Origin() as origin, self.proxy.connect() as browser:
                # ...and on a kept-alive one.
                address = f"{LOOPBACK}:{origin.port}"
                browser.sendall(f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n\r\n"
                                .encode())
                self.assertEqual(read_response(browser)[1], b"hello")
                target = f"{LOOPBACK}:{second.port}"
                browser.sendall(connect_request(target, target) + b"more bytes")
                self.assertEqual(receive_exactly(browser, len(answer) + 10),
                                 answer + b"more bytes")
            self.assertEqual(first.received, b"early bytes")
            self.assertEqual(second.received, b"more bytes")
        finally:
            first.close()
            second.close()

    def test_connect_on_a_kept_alive_connection_is_answered_and_tunnelled(self):
        with Origin(lambda request: response("plain")) as origin:
            with self.proxy.connect() as browser:
                address = f"{LOOPBACK}:{origin.port}"
                browser.sendall(f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n\r\n"
                                .encode())
                self.assertEqual(read_response(browser)[1], b"plain")
                browser.sendall(connect_request(f"localhost:{self.tls.port}",
                                                f"localhost:{self.tls.port}"))
                head, _ = read_head(browser)
                self.assertEqual(head, b"HTTP/1.0 200 Connection established\r\n\r\n")
                context = ssl.create_default_context()
                context.check_hostname = False
                context.verify_mode = ssl.CERT_NONE
                with context.wrap_socket(browser, server_hostname="localhost") as tls:
                    tls.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\n\r\n")
                    head, body = read_response(tls)
        self.assertIn(b"200", head)
        self.assertEqual(body, PAGE)



class TunnelTransferTest(LeakCheckedProxyTest):
    """Large tunnels, a side that closes its sending half, and a server that resets:
    every byte sent arrives unchanged, and no descriptor or thread stays behind."""

    def test_megabytes_both_ways_at_once_arrive_unchanged(self):
        payload = os.urandom(24 << 20)
        echo = EchoServer()
        self.addCleanup(echo.close)
        with open_tunnel(self.proxy, echo) as browser:
            sender = threading.Thread(target=browser.sendall, args=(payload,))
            sender.start()
            echoed = receive_exactly(browser, len(payload))
            sender.join()
        self.assertEqual(hashlib.sha256(echoed).digest(), hashlib.sha256(payload).digest())
        self.assertEqual(len(echo.received), len(payload))

    def test_many_tunnels_opened_together_are_served_at_once(self):
        echo = EchoServer()
        self.addCleanup(echo.close)
        target = f"{LOOPBACK}:{echo.port}"
        browsers = [self.proxy.connect() for _ in range(40)]
        try:
            # Used last to first: none may wait for an earlier one to end.
            for number, browser in reversed(list(enumerate(browsers))):
                browser.sendall(connect_request(target, target) + b"tunnel %d" % number)
                head, rest = read_head(browser)
                self.assertTrue(head.startswith(b"HTTP/1.0 200"), head)
                expected = b"tunnel %d" % number
                self.assertEqual(rest + receive_exactly(browser, len(expected) - len(rest)),
                                 expected)
        finally:
            for browser in browsers:
                browser.close()

    def test_a_half_close_reaches_the_server_and_its_answer_still_comes_back(self):
        payload = os.urandom(3 << 20)
        echo = EchoServer()
        self.addCleanup(echo.close)

        def send_then_half_close(browser):
            browser.sendall(payload)
            browser.shutdown(socket.SHUT_WR)

        with open_tunnel(self.proxy, echo) as browser:
            sender = threading.Thread(target=send_then_half_close, args=(browser,))
            sender.start()
            # The echo server closes once it has read the end: so does the tunnel.
            echoed = read_until_closed(browser)
            sender.join()
        self.assertEqual(bytes(echo.received), payload)
        self.assertEqual(echoed, payload)

    def test_a_server_reset_mid_transfer_ends_the_tunnel(self):
        echo = EchoServer(reset_after=1 << 20)
        self.addCleanup(echo.close)
        with open_tunnel(self.proxy, echo) as browser:
            threading.Thread(target=send_ignoring_reset, args=(browser, os.urandom(8 << 20)),
                             daemon=True).start()
            read_until_closed(browser)
        self.assertGreaterEqual(len(echo.received), 1 << 20)


if __name__ == "__main__":
    unittest.main()
