"""Request bodies on the wire: a body is read by its Content-Length or its chunks,
never taken for the next request, whatever it holds and however it arrives;
"100-continue" works; requests whose framing cannot be trusted, or whose header
block never ends, are refused with an answer and never reach a server."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import Origin, ProxyTest, Stream, chunked, get, relayed, response, rule, wait_until

PAUSE = 0.2  # long enough for the proxy to take a piece in a receive of its own

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


def echo_length(request):
    return response("got %d bytes" % len(request.split(b"\r\n\r\n", 1)[1]))


def post(origin, framing):
    return get(origin, "/post", "POST", f"Content-Type: application/octet-stream\r\n{framing}\r\n")


class RequestFramingTest(ProxyTest):
    RULES = rule('<request contains="blocked-path"/>', "block requests")

    def test_bodies_end_where_their_framing_says(self):
        # Bodies far larger than what the proxy receives at a time, in chunks of sizes
        # around that. The later piece of each arrives on its own and begins like a
        # request for another server; the next request comes right behind it.
        data = bytes((i * 7) % 256 for i in range(1024 * 1024 + 3))
        ends = [0, 1, 16384, 32768, 49153, 119153, len(data)]
        with Origin(echo_length) as origin, Origin() as other:
            lookalike = get(other, "/x")
            bodies = {
                "content-length": data + lookalike + b"last part",
                "chunked": chunked(*[data[a:b] for a, b in zip(ends, ends[1:])], lookalike,
                                   extension=b";n=1", trailers=b"X-Checksum: 42\r\n"),
            }
            for name, body in bodies.items():
                framing = (f"Content-Length: {len(body)}" if name == "content-length"
                           else "Transfer-Encoding: chunked")
                cut = body.rindex(lookalike)
                for kept_alive in (False, True):
                    with self.subTest(name, kept_alive=kept_alive), \
                            Stream.to(self.proxy) as browser:
                        before = len(origin.requests)
                        if kept_alive:
                            browser.send(get(origin, "/before"))
                            self.assertEqual(browser.answer()[1], b"got 0 bytes")
                        browser.send(post(origin, framing) + body[:cut])
                        time.sleep(PAUSE)
                        browser.send(body[cut:] + get(origin, "/after"))
                        self.assertEqual(browser.answer()[1], f"got {len(body)} bytes".encode())
                        self.assertEqual(browser.answer()[1], b"got 0 bytes")
                        self.assertEqual(origin.requests[before + kept_alive:],
                                         [relayed(post(origin, framing)) + body,
                                          relayed(get(origin, "/after"))])
                        self.assertEqual(other.connections, 0)

    def test_100_continue(self):
        body = b"the body, sent once the server asked for it"
        with Origin(echo_length) as origin, Stream.to(self.proxy) as browser:
            browser.send(get(origin, "/upload", "POST",
                             f"Content-Length: {len(body)}\r\nExpect: 100-continue\r\n"))
            # The body goes only once the interim answer is here.
            self.assertTrue(browser.answer()[0].startswith(b"HTTP/1.1 100 Continue\r\n"))
            browser.send(body)
            head, text = browser.answer()
            self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"), head)
            self.assertEqual(text, f"got {len(body)} bytes".encode())
            # And the connection carries the next request.
            browser.send(get(origin, "/next"))
            self.assertEqual(browser.answer()[1], b"got 0 bytes")
            self.assertEqual(origin.requests[0].split(b"\r\n\r\n", 1)[1], body)
            self.assertTrue(origin.requests[1].startswith(b"GET /next HTTP/1.1\r\n"))

    def assert_refused(self, browser, statuses=b"400 Bad Request"):
        """The next answer is a refusal, and the connection ends after it."""
        self.assertRegex(browser.answer_if_any()[0], rb"^HTTP/1\.1 (" + statuses + rb")\r\n")
        self.assertEqual(browser.until_closed(), b"")

    def test_unsafe_framing_is_refused(self):
        # As the connection's first request, after an answered one, and sent
        # together with the one before it, whose answer still comes first.
        for name, rest in UNSAFE.items():
            for where in ("first", "kept alive", "pipelined"):
                with self.subTest(name, where=where), Origin() as first, Origin() as target, \
                        Stream.to(self.proxy) as browser:
                    request = get(target, "/x", "POST")[:-2] + rest
                    if where == "kept alive":
                        browser.send(get(first, "/"))
                        self.assertEqual(browser.answer()[1], b"hello")
                    browser.send((get(first, "/") if where == "pipelined" else b"") + request)
                    if where == "pipelined":
                        self.assertEqual(browser.answer()[1], b"hello")
                    self.assert_refused(browser)
                    self.assertEqual(target.connections, 0)
                    self.assertEqual(len(first.requests), 0 if where == "first" else 1)

    def test_a_bad_chunk_size_ends_the_request(self):
        for in_hand in (True, False):
            with self.subTest(in_hand=in_hand), Origin() as origin, \
                    Stream.to(self.proxy) as browser:
                head = get(origin, "/x", "POST", "Transfer-Encoding: chunked\r\n") + b"5\r\nhello\r\n"
                broken = b"zz\r\n" + get(origin, "/smuggled")
                if in_hand:
                    # Received with the head: the request is refused whole.
                    browser.send(head + broken)
                    self.assert_refused(browser)
                    self.assertEqual(origin.connections, 0)
                    continue
                # The head alone is sound and may already be on its way; nothing after
                # the broken size line may follow it, and the server is not left
                # waiting for the rest of the body.
                browser.send(head)
                time.sleep(PAUSE)
                browser.send(broken)
                answer = browser.until_closed()
                if answer:
                    self.assertRegex(answer, rb"^HTTP/1\.1 400 Bad Request\r\n")
                self.assertTrue(wait_until(lambda: all(s.fileno() == -1
                                                       for s in origin.open_sockets), 3))
                self.assertNotIn(b"zz", origin.received)
                self.assertNotIn(b"smuggled", origin.received)
                self.assertEqual(origin.requests, [])

    def test_a_header_block_that_never_ends_is_refused(self):
        with Origin() as origin:
            start = get(origin, "/")[:-2]
            for name, block in (("one long line", start + b"X-Big: " + b"b" * 20000 + b"\r\n\r\n"),
                                ("many lines", start + b"X-Line: 123456789\r\n" * 1000 + b"\r\n")):
                with self.subTest(name), Stream.to(self.proxy) as browser:
                    browser.send(block)
                    self.assert_refused(browser, rb"431 [^\r]*|400 Bad Request")
            self.assertEqual(origin.connections, 0)


if __name__ == "__main__":
    unittest.main()
