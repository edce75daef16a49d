"""Answers on the wire: the end of each answer is found however it is framed
(no body after HEAD, chunks, the server's close), so the next answer on the
connection is never eaten or mixed in; an upgraded connection carries the bytes
untouched; servers that cannot be reached are answered with an error page."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Closing, Origin, ProxyTest, Stream, Upgrading, chunked, free_port,
                        get, relayed, response, rule)


def echo_path(request):
    return response("answer to " + request.split(b" ")[1].decode())


class AnswerFramingTest(ProxyTest):
    # Rules that would rewrite or block what an upgraded connection carries, were it
    # read as requests and pages.
    RULES = (rule('<request contains="blocked-path"/>', "block requests")
             + rule('<response contains="forbidden-text"/>', "block responses")
             + rule('<content contains="secretword" action="remove"/>'
                    '<content tag="div" attribname="id" attribvalue="ad"/>', "rewrite"))

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
                    with self.subTest(path, together=together), Stream.to(self.proxy) as browser:
                        connections = a.connections
                        browser.send(b"".join(requests) if together else requests[0])
                        self.assertEqual(b"".join(browser.answer(method)), answer)
                        if not together:
                            browser.send(requests[1])
                        self.assertEqual(browser.answer(), (early_hints, b""))
                        self.assertEqual(browser.answer()[1], b"answer to /hints")
                        if not together:
                            browser.send(requests[2])
                        self.assertEqual(browser.answer()[1], b"answer to /other")
                        self.assertEqual(a.connections, connections + 1)

    def test_filtering_never_reaches_from_one_answer_into_the_next(self):
        # Three answers sent in one write: a page whose ad element never closes, an
        # image, and a page with text a rule removes.
        image = b"\x89PNG secretword <div id=\"ad\">"
        answers = (response(b'<p>a</p><div id="ad">never closed')
                   + response(image, "image/png") + response(b"<p>secretword</p>"))
        with Origin(lambda request: answers if b"/first" in request else b"") as origin, \
                Stream.to(self.proxy) as browser:
            browser.send(get(origin, "/first") + get(origin, "/second") + get(origin, "/third"))
            self.assertEqual(browser.answer()[1], b"<p>a</p>" + b" " * 25)
            self.assertEqual(browser.answer()[1], image)
            self.assertEqual(browser.answer()[1], b"<p>          </p>")

    def test_rules_rewrite_chunk_data_but_never_the_chunk_framing(self):
        # The ad element spans three chunks: blanking it must leave the size lines,
        # extensions and trailers around them as they are.
        pieces = [b'<p>a</p><div id="ad">one', b" two ", b"three</div>" + b"x" * 5000,
                  b"<p>secretword</p>"]
        head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
        text = b"".join(pieces)
        element = b'<div id="ad">one two three</div>'
        filtered = text.replace(element, b" " * len(element)).replace(b"secretword", b" " * 10)
        ends = [sum(map(len, pieces[:i])) for i in range(len(pieces) + 1)]
        expected = chunked(*[filtered[a:b] for a, b in zip(ends, ends[1:])], extension=b";n=1",
                           trailers=b"X-Sum: 7\r\n")
        sent = head + chunked(*pieces, extension=b";n=1", trailers=b"X-Sum: 7\r\n")
        # In one write; a chunk's data per write; in writes that end inside a size
        # line, inside chunk data and inside the trailers.
        cuts = [[], [sent.index(piece) for piece in pieces],
                [len(head) + 1, sent.index(b"x" * 5000) + 2500, len(sent) - 8]]
        writes = [[sent[a:b] for a, b in zip([0] + c, c + [len(sent)])] for c in cuts]

        def serve(request):
            return writes.pop(0) if b"/chunked" in request else echo_path(request)

        with Origin(serve, pause=0.05) as origin, Origin(echo_path) as other, \
                Stream.to(self.proxy) as browser:
            for after in (origin, other, origin):
                browser.send(get(origin, "/chunked"))
                self.assertEqual(browser.answer(), (head, expected))
                # The connection goes on, to the same server or another.
                browser.send(get(after, "/after"))
                self.assertEqual(browser.answer()[1], b"answer to /after")
            self.assertEqual(origin.connections, 1)

    def test_servers_that_close(self):
        body = bytes((i * 7) % 256 for i in range(200000))
        head = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"

        def serve(request):
            if b"/until-close" in request:
                return Closing([head + body[:1000], body[1000:]])
            return Closing([echo_path(request)]) if b"/closing" in request else echo_path(request)

        with Origin(serve, pause=0.1) as origin:
            for before in ([], ["/closing", "/kept"]):
                with self.subTest(before=before), Stream.to(self.proxy) as browser:
                    # A server that closed after an answer is connected again for the
                    # browser's next click, which comes after the server has gone.
                    for path in before:
                        browser.send(get(origin, path))
                        self.assertEqual(browser.answer()[1], f"answer to {path}".encode())
                        time.sleep(0.2)
                    # An answer without a length, also on a kept-alive connection, ends
                    # with the server's close; the browser's connection then ends too.
                    browser.send(get(origin, "/until-close"))
                    self.assertEqual(browser.answer(), (head, body))
            self.assertEqual(origin.connections, 3)

    def test_upgrade_declined_then_taken(self):
        switching = (b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                     b"Connection: Upgrade\r\n\r\n")
        greeting = b"<div id=\"ad\">secretword from the server</div>"
        upgrade = "Connection: Upgrade\r\nUpgrade: websocket\r\n"

        def serve(request):
            return Upgrading([switching + greeting]) if b"/socket" in request else echo_path(request)

        with Origin(serve) as origin, Origin() as elsewhere, Stream.to(self.proxy) as browser:
            # Declined: what follows is read as requests again, each going to its own
            # server, the first server's connection included.
            browser.send(get(origin, "/declined", extra=upgrade) + get(elsewhere, "/next"))
            self.assertEqual(browser.answer()[1], b"answer to /declined")
            self.assertEqual(browser.answer()[1], b"hello")
            self.assertEqual(elsewhere.requests, [relayed(get(elsewhere, "/next"))])
            # Taken: from the 101 on, bytes pass untouched both ways.
            browser.send(get(origin, "/socket", extra=upgrade + "Sec-WebSocket-Version: 13\r\n"))
            self.assertEqual(browser.head(), switching)
            self.assertEqual(browser.take(len(greeting)), greeting)
            sent = b""
            for message in (get(elsewhere, "/blocked-path"),
                            b"secretword <div id=\"ad\">forbidden-text</div>",
                            b"POST " + get(elsewhere, "/x"),
                            bytes(range(256)) + b"HTTP/1.1 200 OK\r\n\r\n"):
                browser.send(message)
                self.assertEqual(browser.take(len(message)), message)
                sent += message
            self.assertEqual(origin.tunnelled, sent)
            self.assertTrue(origin.requests[1].startswith(b"GET /socket HTTP/1.1\r\n"))
            for line in (b"\r\nConnection: Upgrade\r\n", b"\r\nUpgrade: websocket\r\n"):
                self.assertIn(line, origin.requests[1])
        self.assertEqual((elsewhere.connections, len(elsewhere.requests)), (1, 1))

    def test_unreachable_servers_get_an_error_page_and_blocked_requests_none(self):
        nobody = f"{LOOPBACK}:{free_port()}"
        with Origin() as origin:
            for where in ("first", "kept alive", "pipelined"):
                for target, named in (("nosuchhost.invalid", b"nosuchhost.invalid"),
                                      (nobody, b"")):
                    with self.subTest(target, where=where), Stream.to(self.proxy) as browser:
                        if where == "kept alive":
                            browser.send(get(origin, "/"))
                            self.assertEqual(browser.answer()[1], b"hello")
                        browser.send((get(origin, "/") if where == "pipelined" else b"")
                                     + get(target, "/page"))
                        if where == "pipelined":
                            self.assertEqual(browser.answer()[1], b"hello")
                        head, body = browser.answer_if_any()
                        self.assertRegex(head, rb"^HTTP/1\.1 502 ")
                        self.assertIn(named, body)
            # A blocked request still gets no answer at all, and its server no request.
            with Stream.to(self.proxy) as browser:
                browser.send(get(origin, "/blocked-path"))
                self.assertEqual(browser.until_closed(), b"")
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
                    Stream.to(self.proxy) as browser:
                browser.send(get(origin, "/"))
                head, body = browser.answer_if_any()
                self.assertRegex(head, rb"^HTTP/1\.1 502 ")
                self.assertNotIn(b"hello", body)


if __name__ == "__main__":
    unittest.main()
