"""Answers on the wire: the end of each answer is found however it is framed
(no body after HEAD, chunks, the server's close), so the next answer on the
connection is never eaten or mixed in; an upgraded connection carries the bytes
untouched; servers that cannot be reached are answered with an error page."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Closing, Lumbra, Origin, Stream, Upgrading, chunked, free_port,
                        response, rule)

# Rules that would rewrite or block what an upgraded connection carries, were it
# read as requests and pages.
RULES = (rule('<request contains="blocked-path"/>', "block requests")
         + rule('<response contains="forbidden-text"/>', "block responses")
         + rule('<content contains="secretword" action="remove"/>'
                '<content tag="div" attribname="id" attribvalue="ad"/>', "rewrite"))
TIMEOUT = 5.0


def get(origin_or_address, path, method="GET", extra=""):
    address = (origin_or_address if isinstance(origin_or_address, str)
               else f"{LOOPBACK}:{origin_or_address.port}")
    return f"{method} http://{address}{path} HTTP/1.1\r\nHost: {address}\r\n{extra}\r\n".encode()


def echo_path(request):
    return response("answer to " + request.split(b" ")[1].decode())


class AnswerFramingTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()

    def tearDown(self):
        self.proxy.close()

    def browser(self):
        browser = self.proxy.connect()
        browser.settimeout(TIMEOUT)
        return browser

    def test_answers_without_a_body_whatever_their_length_says(self):
        announced = b"Content-Type: text/html\r\nContent-Length: 1000\r\n\r\n"
        early_hints = b"HTTP/1.1 103 Early Hints\r\nLink: </style.css>\r\n\r\n"
        bodiless = {  # path: (method, answer)
            "/head": ("HEAD", b"HTTP/1.1 200 OK\r\n" + announced),
            "/not-modified": ("GET", b"HTTP/1.1 304 Not Modified\r\n" + announced),
            "/no-content": ("GET", b"HTTP/1.1 204 No Content\r\n\r\n"),
        }

        def serve(request):
            path = request.split(b" ")[1].decode()
            if path == "/hints":
                return early_hints + echo_path(request)
            return bodiless[path][1] if path in bodiless else echo_path(request)

        with Origin(serve) as a, Origin(echo_path) as b:
            for together in (False, True):
                for path, (method, answer) in bodiless.items():
                    # The same server next, then another: neither answer may be
                    # taken for the 1000 bytes the first one announced.
                    requests = [get(a, path, method), get(a, "/hints"), get(b, "/other")]
                    with self.subTest(path, together=together), self.browser() as browser:
                        stream = Stream(browser)
                        connections = a.connections
                        browser.sendall(b"".join(requests) if together else requests[0])
                        self.assertEqual(b"".join(stream.answer(method)), answer)
                        if not together:
                            browser.sendall(requests[1])
                        self.assertEqual(stream.answer(), (early_hints, b""))
                        self.assertEqual(stream.answer()[1], b"answer to /hints")
                        if not together:
                            browser.sendall(requests[2])
                        self.assertEqual(stream.answer()[1], b"answer to /other")
                        self.assertEqual(a.connections, connections + 1)

    def test_filtering_never_reaches_from_one_answer_into_the_next(self):
        # Three answers sent in one write: a page whose ad element never closes, an
        # image, and a page with text a rule removes.
        image = b"\x89PNG secretword <div id=\"ad\">"
        answers = (response(b'<p>a</p><div id="ad">never closed')
                   + response(image, "image/png")
                   + response(b"<p>secretword</p>"))

        def serve(request):
            return answers if b"/first" in request else b""

        with Origin(serve) as origin, self.browser() as browser:
            stream = Stream(browser)
            browser.sendall(get(origin, "/first") + get(origin, "/second") + get(origin, "/third"))
            self.assertEqual(stream.answer()[1], b"<p>a</p>" + b" " * 25)
            self.assertEqual(stream.answer()[1], image)
            self.assertEqual(stream.answer()[1], b"<p>          </p>")

    def test_rules_rewrite_chunk_data_but_never_the_chunk_framing(self):
        # The ad element spans three chunks: blanking it must leave the size lines
        # between them as they are.
        pieces = [b'<p>a</p><div id="ad">one', b" two ", b"three</div><p>b</p>", b"x secretword y"]
        head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
        text = b"".join(pieces)
        element = b'<div id="ad">one two three</div>'
        filtered = text.replace(element, b" " * len(element)).replace(b"secretword", b" " * 10)
        sizes = [len(piece) for piece in pieces]
        expected = chunked(*[filtered[sum(sizes[:i]):sum(sizes[:i + 1])] for i in range(4)])

        whole = head + chunked(*pieces)
        # In one write, and one chunk per write.
        writes = [whole, [whole[:whole.index(b"\r\n\r\n") + 4]]
                  + [chunked(piece)[:-5] for piece in pieces] + [b"0\r\n\r\n"]]

        def serve(request):
            return writes.pop(0) if b"/chunked" in request else echo_path(request)

        with Origin(serve, pause=0.05) as origin:
            for sent in ("in one write", "a chunk per write"):
                with self.subTest(sent), self.browser() as browser:
                    stream = Stream(browser)
                    browser.sendall(get(origin, "/chunked"))
                    self.assertEqual(stream.answer(), (head, expected))
                    browser.sendall(get(origin, "/after"))
                    self.assertEqual(stream.answer()[1], b"answer to /after")

    def test_chunked_answer_passes_whole_and_the_connection_goes_on(self):
        body = chunked(b"<p>first</p>", b"x" * 5000, b"<p>last</p>", extension=b";note=1",
                       trailers=b"X-Checksum: 7\r\n")
        head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"

        def serve(request):
            if b"/chunked" in request:
                # In pieces that end inside a size line and inside the trailers.
                return [head + body[:7], body[7:5020], body[5020:-8], body[-8:]]
            return echo_path(request)

        with Origin(serve, pause=0.1) as a, Origin(echo_path) as b, self.browser() as browser:
            stream = Stream(browser)
            for origin in (a, b):
                browser.sendall(get(a, "/chunked"))
                self.assertEqual(stream.answer(), (head, body))
                browser.sendall(get(origin, "/after"))
                self.assertEqual(stream.answer()[1], b"answer to /after")
            self.assertEqual(a.connections, 1)

    def test_answer_ended_by_the_servers_close(self):
        body = bytes((i * 7) % 256 for i in range(200000))
        head = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"

        def serve(request):
            if b"/until-close" in request:
                return Closing([head + body[:1000], body[1000:]])
            return echo_path(request)

        with Origin(serve, pause=0.1) as origin:
            for kept_alive in (False, True):
                with self.subTest(kept_alive=kept_alive), self.browser() as browser:
                    stream = Stream(browser)
                    if kept_alive:
                        browser.sendall(get(origin, "/before"))
                        self.assertEqual(stream.answer()[1], b"answer to /before")
                    browser.sendall(get(origin, "/until-close"))
                    # Everything up to the close, then the browser's connection ends too.
                    self.assertEqual(stream.answer(), (head, body))

    def test_upgraded_connection_carries_bytes_untouched_both_ways(self):
        switching = (b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                     b"Connection: Upgrade\r\n\r\n")
        greeting = b"<div id=\"ad\">secretword from the server</div>"
        with Origin(lambda request: Upgrading([switching + greeting])) as origin, \
                Origin() as elsewhere, self.browser() as browser:
            stream = Stream(browser)
            browser.sendall(get(origin, "/socket", extra="Connection: Upgrade\r\n"
                                "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"))
            self.assertEqual(stream.head(), switching)
            self.assertEqual(stream.take(len(greeting)), greeting)
            sent = b""
            for message in (get(elsewhere, "/blocked-path"),
                            b"secretword <div id=\"ad\">forbidden-text</div>",
                            b"POST " + get(elsewhere, "/x"),
                            bytes(range(256)) + b"HTTP/1.1 200 OK\r\n\r\n"):
                browser.sendall(message)
                self.assertEqual(stream.take(len(message)), message)
                sent += message
            self.assertEqual(origin.tunnelled, sent)
            request = origin.requests[0]
            self.assertTrue(request.startswith(b"GET /socket HTTP/1.1\r\n"), request)
            self.assertIn(b"\r\nConnection: Upgrade\r\n", request)
            self.assertIn(b"\r\nUpgrade: websocket\r\n", request)
        self.assertEqual(elsewhere.connections, 0)

    def test_upgrade_declined_by_the_server_keeps_the_connection_http(self):
        with Origin(echo_path) as origin, Origin(echo_path) as other, \
                self.browser() as browser:
            stream = Stream(browser)
            browser.sendall(get(origin, "/socket", extra="Connection: Upgrade\r\n"
                                "Upgrade: websocket\r\n"))
            self.assertEqual(stream.answer()[1], b"answer to /socket")
            # What follows is read as requests again, each going to its own server.
            browser.sendall(get(other, "/next") + get(origin, "/last"))
            self.assertEqual(stream.answer()[1], b"answer to /next")
            self.assertEqual(stream.answer()[1], b"answer to /last")
            self.assertEqual(other.requests[0], f"GET /next HTTP/1.1\r\nHost: {LOOPBACK}:"
                                                f"{other.port}\r\n\r\n".encode())


class ServerTroubleTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()

    def tearDown(self):
        self.proxy.close()

    def browser(self):
        browser = self.proxy.connect()
        browser.settimeout(TIMEOUT)
        return browser

    def answer_or_nothing(self, stream):
        try:
            return stream.answer()
        except EOFError:
            return b"", b""

    def test_unreachable_servers_get_an_error_page_and_blocked_requests_none(self):
        nobody = f"{LOOPBACK}:{free_port()}"
        with Origin() as origin:
            for where in ("first", "kept alive", "pipelined"):
                for target, named in (("nosuchhost.invalid", b"nosuchhost.invalid"),
                                      (nobody, b"")):
                    with self.subTest(target, where=where), self.browser() as browser:
                        stream = Stream(browser)
                        if where == "kept alive":
                            browser.sendall(get(origin, "/"))
                            self.assertEqual(stream.answer()[1], b"hello")
                        browser.sendall((get(origin, "/") if where == "pipelined" else b"")
                                        + get(target, "/page"))
                        if where == "pipelined":
                            self.assertEqual(stream.answer()[1], b"hello")
                        head, body = self.answer_or_nothing(stream)
                        self.assertRegex(head, rb"^HTTP/1\.1 502 ")
                        self.assertIn(named, body)
            # A blocked request still gets no answer at all, and its server no request.
            with self.browser() as browser:
                browser.sendall(get(origin, "/blocked-path"))
                self.assertEqual(Stream(browser).until_closed(), b"")
            time.sleep(0.2)
            self.assertEqual(len(origin.requests), 4)
            self.assertNotIn(b"blocked-path", origin.received)

    def test_answers_that_cannot_be_framed_become_an_error_page(self):
        # Each would leave the proxy and the browser reading the bytes after it
        # differently; none of it reaches the browser.
        for name, answer in (
                ("no status line", b"hello there\r\n\r\nsecond part"),
                ("length and chunked", b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
                                       b"Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n"),
                ("two lengths", b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"
                                b"Content-Length: 50\r\n\r\nhello")):
            with self.subTest(name), Origin(lambda request: Closing([answer])) as origin, \
                    self.browser() as browser:
                stream = Stream(browser)
                browser.sendall(get(origin, "/"))
                head, body = self.answer_or_nothing(stream)
                self.assertRegex(head, rb"^HTTP/1\.1 502 ")
                self.assertNotIn(b"hello", body)

    def test_a_server_that_closes_between_answers_is_connected_again(self):
        with Origin(lambda request: Closing([echo_path(request)])) as origin, \
                self.browser() as browser:
            stream = Stream(browser)
            for path in ("/one", "/two", "/three"):
                browser.sendall(get(origin, path))
                self.assertEqual(stream.answer()[1], f"answer to {path}".encode())
                # The browser's next click comes after the server has gone.
                time.sleep(0.2)
            self.assertEqual(origin.connections, 3)


if __name__ == "__main__":
    unittest.main()
