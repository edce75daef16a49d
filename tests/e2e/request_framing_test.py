"""Request bodies on the wire: a body is read by its Content-Length or its chunks,
never taken for the next request, whatever it holds and however it arrives;
"100-continue" works; requests whose framing cannot be trusted, or whose header
block never ends, are refused with an answer and never reach a server."""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Lumbra, Origin, Stream, chunked, response, rule,
                        wait_until)

RULES = rule('<request contains="blocked-path"/>', "block requests")
PAUSE = 0.2  # long enough for the proxy to take a piece in a receive of its own
TIMEOUT = 5.0


def browser_of(proxy):
    browser = proxy.connect()
    browser.settimeout(TIMEOUT)
    browser.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return browser


def echo_length(request):
    body = request.split(b"\r\n\r\n", 1)[1]
    return response(f"got {len(body)} bytes")


class RequestBodyTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()

    def tearDown(self):
        self.proxy.close()

    def test_a_body_that_looks_like_a_request_stays_in_the_body(self):
        # The later piece of each body arrives on its own and begins like a request
        # for another server.
        with Origin(echo_length) as origin, Origin() as other:
            address = f"{LOOPBACK}:{origin.port}"
            elsewhere = f"{LOOPBACK}:{other.port}"
            lookalike = (f"GET http://{elsewhere}/x HTTP/1.1\r\nHost: {elsewhere}\r\n\r\n"
                         .encode())
            length_body = [b"first part " + bytes(range(256)), lookalike + b"last part"]
            chunked_body = [b"1a;piece=one\r\n" + b"a" * 26 + b"\r\n"
                            # The size line of the next chunk, whose data comes later.
                            + b"%x;piece=two\r\n" % len(lookalike),
                            lookalike + b"\r\n0\r\nX-Checksum: 42\r\n\r\n"]
            cases = {
                "content-length": (f"Content-Length: {sum(map(len, length_body))}",
                                   length_body),
                "chunked": ("Transfer-Encoding: chunked", chunked_body),
            }
            for name, (framing, pieces) in cases.items():
                for kept_alive in (False, True):
                    with self.subTest(name, kept_alive=kept_alive), \
                            browser_of(self.proxy) as browser:
                        stream = Stream(browser)
                        before = len(origin.requests)
                        if kept_alive:
                            browser.sendall(f"GET http://{address}/before HTTP/1.1\r\n"
                                            f"Host: {address}\r\n\r\n".encode())
                            self.assertEqual(stream.answer()[1], b"got 0 bytes")
                        head = (f"POST http://{address}/{name} HTTP/1.1\r\nHost: {address}\r\n"
                                f"Content-Type: application/octet-stream\r\n{framing}\r\n\r\n"
                                .encode())
                        browser.sendall(head + pieces[0])
                        time.sleep(PAUSE)
                        browser.sendall(pieces[1])
                        body = b"".join(pieces)
                        self.assertEqual(stream.answer()[1], f"got {len(body)} bytes".encode())
                        # The connection goes on with the request after the body.
                        browser.sendall(f"GET http://{address}/after HTTP/1.1\r\n"
                                        f"Host: {address}\r\n\r\n".encode())
                        self.assertEqual(stream.answer()[1], b"got 0 bytes")
                        self.assertEqual(other.connections, 0)
                        requests = origin.requests[before + kept_alive:]
                        self.assertEqual(len(requests), 2)
                        self.assertTrue(requests[0].startswith(
                            f"POST /{name} HTTP/1.1\r\n".encode()), requests[0])
                        self.assertEqual(requests[0].split(b"\r\n\r\n", 1)[1], body)
                        self.assertTrue(requests[1].startswith(b"GET /after HTTP/1.1\r\n"))

    def test_large_bodies_arrive_whole(self):
        # Far larger than what the proxy receives at a time, in chunks of sizes
        # around that, with the next request right behind each body.
        data = bytes((i * 7) % 256 for i in range(1024 * 1024 + 3))
        sizes = [1, 16383, 16384, 16385, 70000, 1]
        pieces, start = [], 0
        for size in sizes:
            pieces.append(data[start:start + size])
            start += size
        bodies = {
            "content-length": (f"Content-Length: {len(data)}", data),
            "chunked": ("Transfer-Encoding: chunked", chunked(*pieces, extension=b";n=1")),
        }
        with Origin(echo_length) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            for name, (framing, body) in bodies.items():
                with self.subTest(name), browser_of(self.proxy) as browser:
                    stream = Stream(browser)
                    before = len(origin.requests)
                    browser.sendall(
                        f"PUT http://{address}/{name} HTTP/1.1\r\nHost: {address}\r\n"
                        f"{framing}\r\n\r\n".encode() + body
                        + f"GET http://{address}/next HTTP/1.1\r\nHost: {address}\r\n\r\n"
                        .encode())
                    self.assertEqual(stream.answer()[1], f"got {len(body)} bytes".encode())
                    self.assertEqual(stream.answer()[1], b"got 0 bytes")
                    request, following = origin.requests[before:]
                    self.assertTrue(request.split(b"\r\n\r\n", 1)[1] == body)
                    self.assertTrue(following.startswith(b"GET /next HTTP/1.1\r\n"), following)

    def test_100_continue(self):
        body = b"the body, sent once the server asked for it"
        with Origin(echo_length) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with browser_of(self.proxy) as browser:
                stream = Stream(browser)
                browser.sendall(f"POST http://{address}/upload HTTP/1.1\r\nHost: {address}\r\n"
                                f"Content-Length: {len(body)}\r\nExpect: 100-continue\r\n\r\n"
                                .encode())
                # The body goes only once the interim answer is here.
                head, _ = stream.answer()
                self.assertTrue(head.startswith(b"HTTP/1.1 100 Continue\r\n"), head)
                browser.sendall(body)
                head, text = stream.final_answer()
                self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"), head)
                self.assertEqual(text, f"got {len(body)} bytes".encode())
                # And the connection carries the next request.
                browser.sendall(f"GET http://{address}/next HTTP/1.1\r\nHost: {address}\r\n\r\n"
                                .encode())
                self.assertEqual(stream.final_answer()[1], b"got 0 bytes")
            self.assertEqual(origin.requests[0].split(b"\r\n\r\n", 1)[1], body)
            self.assertTrue(origin.requests[1].startswith(b"GET /next HTTP/1.1\r\n"))


# Requests whose body could be read in more than one way: a server that reads it
# another way than the proxy would take part of it for a request of its own.
UNSAFE = {
    "length and chunked": b"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
    "final coding not chunked": b"Transfer-Encoding: gzip\r\n\r\nhello",
    "length list": b"Content-Length: 5, 6\r\n\r\nhello!",
    "two lengths": b"Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!",
    "folded line": b"X-Note: one\r\n  two\r\nContent-Length: 0\r\n\r\n",
    "bare CR": b"X-Note: one\rX-Other: two\r\nContent-Length: 0\r\n\r\n",
}


class RefusedRequestTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()

    def tearDown(self):
        self.proxy.close()

    def assert_refused(self, stream, statuses=b"400 Bad Request"):
        """The next answer is a refusal, and the connection ends after it."""
        try:
            head, _ = stream.answer()
        except EOFError:
            head = b""
        self.assertRegex(head, rb"^HTTP/1\.1 (" + statuses + rb")\r\n")
        self.assertEqual(stream.until_closed(), b"")

    def test_unsafe_framing_is_refused(self):
        # As the connection's first request, after an answered one, and sent
        # together with the one before it, whose answer still comes first.
        for name, rest in UNSAFE.items():
            for where in ("first", "kept alive", "pipelined"):
                with self.subTest(name, where=where), Origin() as first, Origin() as target:
                    address = f"{LOOPBACK}:{target.port}"
                    request = (f"POST http://{address}/x HTTP/1.1\r\nHost: {address}\r\n"
                               .encode() + rest)
                    address = f"{LOOPBACK}:{first.port}"
                    before = f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n\r\n".encode()
                    with browser_of(self.proxy) as browser:
                        stream = Stream(browser)
                        if where == "kept alive":
                            browser.sendall(before)
                            self.assertEqual(stream.answer()[1], b"hello")
                        browser.sendall(before + request if where == "pipelined" else request)
                        if where == "pipelined":
                            self.assertEqual(stream.answer()[1], b"hello")
                        self.assert_refused(stream)
                    self.assertEqual(target.connections, 0)
                    self.assertEqual(len(first.requests), 0 if where == "first" else 1)

    def test_a_bad_chunk_size_ends_the_request(self):
        for in_hand in (True, False):
            with self.subTest(in_hand=in_hand), Origin() as origin, \
                    browser_of(self.proxy) as browser:
                address = f"{LOOPBACK}:{origin.port}"
                head = (f"POST http://{address}/x HTTP/1.1\r\nHost: {address}\r\n"
                        "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n").encode()
                broken = (f"zz\r\nGET http://{address}/smuggled HTTP/1.1\r\n"
                          f"Host: {address}\r\n\r\n").encode()
                if in_hand:
                    # Received with the head: the request is refused whole.
                    browser.sendall(head + broken)
                    self.assert_refused(Stream(browser))
                    self.assertEqual(origin.connections, 0)
                    continue
                # The head alone is sound and may already be on its way; nothing
                # after the broken size line may follow it, and the server is not
                # left waiting for the rest of the body.
                browser.sendall(head)
                time.sleep(PAUSE)
                browser.sendall(broken)
                answer = Stream(browser).until_closed()
                if answer:
                    self.assertRegex(answer, rb"^HTTP/1\.1 400 Bad Request\r\n")
                self.assertTrue(wait_until(lambda: all(s.fileno() == -1
                                                       for s in origin.open_sockets), 3))
                self.assertNotIn(b"zz", origin.received)
                self.assertNotIn(b"smuggled", origin.received)
                self.assertEqual(origin.requests, [])

    def test_a_header_block_that_never_ends_is_refused(self):
        with Origin() as origin:
            address = f"{LOOPBACK}:{origin.port}"
            start = f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n".encode()
            for name, block in (("one long line", start + b"X-Big: " + b"b" * 20000 + b"\r\n\r\n"),
                                ("many lines", start + b"X-Line: 123456789\r\n" * 1000 + b"\r\n")):
                with self.subTest(name), browser_of(self.proxy) as browser:
                    browser.sendall(block)
                    self.assert_refused(Stream(browser), rb"431 [^\r]*|400 Bad Request")
            self.assertEqual(origin.connections, 0)


if __name__ == "__main__":
    unittest.main()
