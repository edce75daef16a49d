"""Every wait has an end and every resource a cap: a slow header block, an idle
browser connection, an idle or silent server and an idle tunnel are closed, while a
body or an answer that keeps moving is never cut (the limits are shortened for the
run through the environment); idle connections beyond a low descriptor limit leave
the proxy serving, and one browser connection keeps few server connections."""

import os
import resource
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Lumbra, Origin, read_response, read_until_closed, response,
                        wait_until)

# header block, idle browser connection, idle server connection, idle tunnel (ms)
LIMITS = "800,2500,1000,2000"


def closed_within(sock, seconds):
    """True when the peer closes the connection within `seconds` (bytes it sends
    before are read and dropped)."""
    sock.settimeout(seconds)
    try:
        while sock.recv(65536):
            pass
        return True
    except (socket.timeout, TimeoutError):
        return False
    except ConnectionResetError:
        return True


class TimeLimitsTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra()
        self.proxy.env["LUMBRA_TIME_LIMITS_MS"] = LIMITS
        self.proxy.start()

    def tearDown(self):
        self.proxy.close()

    def get(self, origin, path="/", extra=""):
        address = f"{LOOPBACK}:{origin.port}"
        return f"GET http://{address}{path} HTTP/1.1\r\nHost: {address}\r\n{extra}\r\n".encode()

    def test_slow_header_blocks_and_idle_connections_are_closed(self):
        with Origin() as origin:
            # A header byte every 0.2 s never makes a whole block in time.
            with self.proxy.connect() as browser:
                started = time.monotonic()
                try:
                    for byte in self.get(origin)[:20]:
                        browser.sendall(bytes([byte]))
                        time.sleep(0.2)
                except OSError:
                    pass  # closed while the bytes still came
                self.assertTrue(closed_within(browser, 2))
                self.assertLess(time.monotonic() - started, 3.5)
            self.assertEqual(origin.connections, 0)
            # An idle server connection is closed before its idle browser connection,
            # which then reaches the server on a new one; then the browser's is closed.
            with self.proxy.connect() as browser:
                browser.sendall(self.get(origin))
                self.assertEqual(read_response(browser)[1], b"hello")
                time.sleep(1.6)
                browser.sendall(self.get(origin))
                self.assertEqual(read_response(browser)[1], b"hello")
                self.assertEqual(origin.connections, 2)
                started = time.monotonic()
                self.assertTrue(closed_within(browser, 5))
                self.assertGreater(time.monotonic() - started, 2.0)

    def test_moving_bodies_and_answers_are_never_cut(self):
        pieces = [b"x" * 100] * 12  # 12 pieces, 0.3 s apart: longer than every limit

        def slow_answer(request):
            head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % sum(map(len, pieces))
            return [head] + pieces

        with Origin(slow_answer, pause=0.3) as origin:
            with self.proxy.connect() as browser:
                browser.settimeout(10)
                address = f"{LOOPBACK}:{origin.port}"
                browser.sendall(f"POST http://{address}/up HTTP/1.1\r\nHost: {address}\r\n"
                                f"Content-Length: {sum(map(len, pieces))}\r\n\r\n".encode())
                for piece in pieces:
                    time.sleep(0.3)
                    browser.sendall(piece)
                head, body = read_response(browser)
                self.assertIn(b"200 OK", head)
                self.assertEqual(body, b"".join(pieces))
            self.assertEqual(origin.requests[0].split(b"\r\n\r\n", 1)[1], b"".join(pieces))

    def test_a_server_that_never_answers_gets_the_browser_a_504(self):
        with Origin(lambda request: [b"", b""], pause=30) as origin:
            with self.proxy.connect() as browser:
                browser.sendall(self.get(origin, "/silent"))
                answer = read_until_closed(browser)
        self.assertTrue(answer.startswith(b"HTTP/1.1 504 "), answer[:40])

    def test_an_idle_tunnel_is_closed_but_a_busy_one_is_not(self):
        echo = socket.socket()
        echo.bind((LOOPBACK, 0))
        echo.listen()

        def serve():
            conn, _ = echo.accept()
            with conn:
                while data := conn.recv(65536):
                    conn.sendall(data)

        threading.Thread(target=serve, daemon=True).start()
        with echo, self.proxy.connect() as browser:
            port = echo.getsockname()[1]
            browser.sendall(f"CONNECT {LOOPBACK}:{port} HTTP/1.1\r\n\r\n".encode())
            self.assertTrue(browser.recv(100).startswith(b"HTTP/1.0 200"))
            for _ in range(10):  # 3 s of traffic, past the tunnel's limit
                browser.sendall(b"ping")
                self.assertEqual(browser.recv(100), b"ping")
                time.sleep(0.3)
            self.assertTrue(closed_within(browser, 4))


class CapsTest(unittest.TestCase):
    def test_idle_connections_past_a_low_soft_limit_leave_the_proxy_serving(self):
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        if hard != resource.RLIM_INFINITY and hard < 4096:
            self.skipTest(f"the hard descriptor limit {hard} is below 4096")
        with Origin() as origin, Lumbra() as proxy:
            proxy.stop()
            proxy.start(max_descriptors=(256, 4096))
            time.sleep(0.2)
            before = (proxy.descriptor_count(), proxy.thread_count())
            idle = [proxy.connect() for _ in range(400)]
            try:
                with proxy.connect() as browser:
                    browser.sendall(f"GET http://{LOOPBACK}:{origin.port}/ HTTP/1.1\r\n"
                                    f"Host: {LOOPBACK}:{origin.port}\r\n\r\n".encode())
                    self.assertEqual(read_response(browser)[1], b"hello")
                with proxy.connect() as browser:
                    browser.sendall(f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{proxy.port}\r\n\r\n"
                                    .encode())
                    self.assertIn(b"200 OK", read_response(browser)[0])
            finally:
                for sock in idle:
                    sock.close()
            self.assertTrue(wait_until(
                lambda: (proxy.descriptor_count(), proxy.thread_count()) == before),
                f"{proxy.descriptor_count()} descriptors, {proxy.thread_count()} threads; "
                f"{before} before")

    def test_one_browser_connection_keeps_few_server_connections(self):
        origins = [Origin() for _ in range(40)]
        try:
            with Lumbra() as proxy, proxy.connect() as browser:
                for origin in origins:
                    address = f"{LOOPBACK}:{origin.port}"
                    browser.sendall(f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n\r\n"
                                    .encode())
                    self.assertEqual(read_response(browser)[1], b"hello")
                # The request loop, at most 32 response relays, and the program's own.
                self.assertTrue(wait_until(lambda: proxy.thread_count() <= 3 + 1 + 32, timeout=2),
                                f"{proxy.thread_count()} threads")
        finally:
            for origin in origins:
                origin.close()


if __name__ == "__main__":
    unittest.main()
