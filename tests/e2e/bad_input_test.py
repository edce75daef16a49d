"""Bad input never crashes, hangs or leaks: garbage, NUL bytes, bare line feeds,
100 KB header blocks, browsers that leave mid-request or mid-response, servers
that reset. Afterwards the proxy still serves, and its open descriptors and
threads are back to where they started."""

import os
import random
import socket
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (BINARY, LOOPBACK, Lumbra, Origin, read_response, read_until_closed, response,
                        rule, wait_until)

RULES = rule('<content contains="secretword" action="remove"/>'
             '<content tag="div" attribname="id" attribvalue="ad"/>')
BIG = 100 * 1024


def serve(request):
    if b"/reset" in request:
        return "reset"
    if b"/slow" in request:
        head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n"
        pieces = [b"<div id=\"ad\">" + b"x" * 50000] * 20
        return [head % sum(map(len, pieces))] + pieces
    return response("hello")


class ResettingOrigin(Origin):
    """Answers "/reset" by resetting the connection (RST) instead of answering."""

    def __init__(self):
        super().__init__(serve, pause=0.05)
        handler = self.handler

        def reset_or_answer(request):
            answer = handler(request)
            if answer != "reset":
                return answer
            with self.lock:
                conn = self.open_sockets[-1]
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return None

        self.handler = reset_or_answer


class BadInputTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()
        self.origin = ResettingOrigin()
        self.address = f"{LOOPBACK}:{self.origin.port}"
        time.sleep(0.1)
        self.descriptors = self.proxy.descriptor_count()
        self.threads = self.proxy.thread_count()

    def tearDown(self):
        self.origin.close()
        self.proxy.close()

    def get(self, path, extra=b""):
        return (f"GET http://{self.address}{path} HTTP/1.1\r\nHost: {self.address}\r\n"
                .encode() + extra + b"\r\n")

    def send_and_close(self, data, read=False):
        with self.proxy.connect() as browser:
            browser.settimeout(3)
            try:
                browser.sendall(data)
                if read:
                    return read_until_closed(browser)
            except OSError:
                pass
        return b""

    def assert_still_serving_and_nothing_leaked(self):
        with self.proxy.connect() as browser:
            browser.sendall(self.get("/after"))
            self.assertEqual(read_response(browser)[1], b"hello")
        self.assertTrue(self.proxy.is_alive())
        self.assertTrue(wait_until(lambda: self.proxy.descriptor_count() == self.descriptors),
                        f"{self.proxy.descriptor_count()} descriptors, {self.descriptors} before")
        self.assertTrue(wait_until(lambda: self.proxy.thread_count() == self.threads),
                        f"{self.proxy.thread_count()} threads, {self.threads} before")

    def test_garbage_nul_bytes_and_bare_line_feeds(self):
        generator = random.Random(4)
        for _ in range(20):
            self.send_and_close(bytes(generator.randrange(256) for _ in range(4096)))
        # Header blocks that are no request are refused; a request without a server
        # to go to is closed unanswered.
        for block, answer in ((b"\x00\x01\x02\r\n\r\n", b"HTTP/1.1 400 "),
                              (b"GET http://x/ HTTP/1.1\r\nHo\x00st: x\r\n\r\n", b"HTTP/1.1 400 "),
                              (b"CONNECT\r\n\r\n", b"HTTP/1.1 400 "),
                              (b" " * 20000, b"HTTP/1.1 431 "),
                              (b"GET / HTTP/1.1\r\n\r\n", b"")):
            self.assertEqual(self.send_and_close(block, read=True)[:len(answer)], answer, block)
        # A NUL inside a header value is refused, never passed to a server that might
        # read the line differently.
        answer = self.send_and_close(self.get("/nul", b"X-Nul: a\x00b\r\n"), read=True)
        self.assertTrue(answer.startswith(b"HTTP/1.1 400 "), answer[:40])
        # Bare line feeds end the header block too: the request goes on to the server.
        before = self.origin.connections
        self.send_and_close(
            f"GET http://{self.address}/lf HTTP/1.1\nHost: {self.address}\n\n".encode())
        self.assertTrue(wait_until(lambda: self.origin.connections == before + 1))
        self.assert_still_serving_and_nothing_leaked()

    def test_huge_header_blocks(self):
        # A header block must fit the 16 KiB the proxy reads it into: a larger one is
        # refused whole instead of reaching the server in part.
        for block in (self.get("/big", b"X-Big: " + b"b" * BIG + b"\r\n"),
                      b"GET / HTTP/1.1\r\nX: " + b"y" * BIG + b"\r\n\r\n"):
            answer = self.send_and_close(block, read=True)
            self.assertTrue(answer.startswith(b"HTTP/1.1 431 "), answer[:40])
        self.assertEqual(self.origin.requests, [])
        self.assert_still_serving_and_nothing_leaked()

    def test_peers_that_leave_early(self):
        request = self.get("/slow")
        # The browser leaves in the middle of its request...
        for cut in (5, len(request) // 2, len(request) - 2):
            self.send_and_close(request[:cut])
        # ...or in the middle of a slow 1 MB response.
        for _ in range(3):
            with self.proxy.connect() as browser:
                browser.sendall(request)
                self.assertTrue(browser.recv(1000))
        # The server resets the connection instead of answering.
        with self.proxy.connect() as browser:
            browser.sendall(self.get("/reset"))
            self.assertEqual(read_until_closed(browser), b"")
        self.assert_still_serving_and_nothing_leaked()


def built_with_sanitizers():
    linked = subprocess.run(["ldd", BINARY], capture_output=True, text=True).stdout
    return "libasan" in linked or "libubsan" in linked


class DescriptorExhaustionTest(unittest.TestCase):
    # UBSan's type checks open a pipe, which fails here and is reported as a fault.
    @unittest.skipIf(built_with_sanitizers(), "sanitizer checks need free descriptors")
    def test_accept_without_descriptors_backs_off_and_recovers(self):
        with Origin() as origin, Lumbra(RULES) as proxy:
            proxy.stop()
            proxy.start(max_descriptors=40)
            # Idle browsers hold a descriptor each until none is left to accept with.
            idle = [proxy.connect() for _ in range(60)]
            try:
                time.sleep(0.3)
                before = proxy.cpu_seconds()
                time.sleep(1.0)
                # A loop retrying the failed accept at once would burn a whole core.
                self.assertLess(proxy.cpu_seconds() - before, 0.5)
            finally:
                for browser in idle:
                    browser.close()
            address = f"{LOOPBACK}:{origin.port}"
            def served():
                try:
                    with proxy.connect() as browser:
                        browser.settimeout(2)
                        browser.sendall(f"GET http://{address}/ HTTP/1.1\r\nHost: {address}"
                                        "\r\n\r\n".encode())
                        return read_response(browser)[1] == b"hello"
                except OSError:
                    return False
            self.assertTrue(wait_until(served))


if __name__ == "__main__":
    unittest.main()
