"""Several requests on one browser connection: requests sent together each reach
their own server, answers come back in the order of the requests, a blocked one
ends the connection after the answers before it, a request arriving a few bytes
at a time is still read whole, and an answer nobody asked for is never passed on."""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import LOOPBACK, Lumbra, Origin, Stream, chunked, response, rule

RULES = rule('<request contains="blocked-path"/>', "block requests")
TIMEOUT = 5.0


def get(origin, path, extra=""):
    address = f"{LOOPBACK}:{origin.port}"
    return f"GET http://{address}{path} HTTP/1.1\r\nHost: {address}\r\n{extra}\r\n".encode()


def named(name, delay=0.0):
    """A handler answering `name` and the path asked for, after `delay` seconds."""
    def handler(request):
        time.sleep(delay)
        return response(name + " " + request.split(b" ")[1].decode())
    return handler


class PipeliningTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(RULES).start()

    def tearDown(self):
        self.proxy.close()

    def browser(self):
        browser = self.proxy.connect()
        browser.settimeout(TIMEOUT)
        browser.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return browser

    def test_requests_sent_together_reach_their_servers_and_answers_keep_their_order(self):
        # The first server answers late, or sends its answer in two parts with a
        # pause between: its answer must still come first, and whole.
        def in_parts(request):
            answer = response("slow " + request.split(b" ")[1].decode())
            return [answer[:-3], answer[-3:]]

        for kept_alive, handler in ((False, named("slow", 0.3)), (True, named("slow", 0.3)),
                                    (True, in_parts)):
            with self.subTest(kept_alive=kept_alive, in_parts=handler is in_parts), \
                    Origin(handler) as slow, Origin(named("quick")) as quick, \
                    self.browser() as browser:
                stream = Stream(browser)
                if kept_alive:
                    browser.sendall(get(quick, "/before"))
                    self.assertEqual(stream.answer()[1], b"quick /before")
                browser.sendall(get(slow, "/first", "Accept: */*\r\n") + get(quick, "/second"))
                self.assertEqual(stream.answer()[1], b"slow /first")
                self.assertEqual(stream.answer()[1], b"quick /second")
                self.assertEqual(slow.requests, [
                    f"GET /first HTTP/1.1\r\nHost: {LOOPBACK}:{slow.port}\r\n"
                    "Accept: */*\r\n\r\n".encode()])
                self.assertEqual(quick.requests[-1],
                                 f"GET /second HTTP/1.1\r\nHost: {LOOPBACK}:{quick.port}\r\n\r\n"
                                 .encode())
                self.assertEqual(len(quick.requests), 2 if kept_alive else 1)

    def test_a_blocked_request_behind_another_ends_the_connection_after_its_answer(self):
        # Each of these is closed without an answer, but only once the answer owed
        # to the request before it is out.
        for name, request in (("blocked", lambda second: get(second, "/blocked-path")),
                              ("no server named", lambda second: b"GET /x HTTP/1.1\r\n\r\n")):
            with self.subTest(name), Origin(named("first", 0.1)) as first, Origin() as second, \
                    self.browser() as browser:
                stream = Stream(browser)
                browser.sendall(get(first, "/fine") + request(second))
                try:
                    answer = stream.answer()[1]
                except EOFError:
                    answer = b"(closed)"
                self.assertEqual(answer, b"first /fine")
                self.assertEqual(stream.until_closed(), b"")
                time.sleep(0.2)
                self.assertEqual(len(first.requests), 1)
                self.assertNotIn(b"blocked-path", first.received)
                self.assertEqual(second.connections, 0)

    def test_a_later_request_arriving_a_few_bytes_at_a_time(self):
        bodies = {"GET": b"", "chunked POST": chunked(b"part one;", b"part two",
                                                      extension=b";x=1", trailers=b"X-Sum: 1\r\n")}
        for name, body in bodies.items():
            with self.subTest(name), Origin(named("first")) as first, \
                    Origin(named("second")) as second, self.browser() as browser:
                stream = Stream(browser)
                browser.sendall(get(first, "/one"))
                self.assertEqual(stream.answer()[1], b"first /one")
                address = f"{LOOPBACK}:{second.port}"
                framing = "Transfer-Encoding: chunked\r\n" if body else ""
                method = "POST" if body else "GET"
                request = (f"{method} http://{address}/two HTTP/1.1\r\nHost: {address}\r\n"
                           f"Accept: */*\r\n{framing}\r\n").encode() + body
                for start in range(0, len(request), 3):
                    browser.sendall(request[start:start + 3])
                    time.sleep(0.005)
                self.assertEqual(stream.answer()[1], b"second /two")
                self.assertEqual(second.requests, [
                    f"{method} /two HTTP/1.1\r\nHost: {address}\r\nAccept: */*\r\n{framing}\r\n"
                    .encode() + body])
                self.assertEqual(len(first.requests), 1)
                self.assertEqual(first.received, get(first, "/one").replace(
                    f"http://{LOOPBACK}:{first.port}".encode(), b"", 1))

    def test_an_answer_nobody_asked_for_never_reaches_the_browser(self):
        # The first server sends a second, whole answer 0.2 s after its real one;
        # the second server takes 0.3 s to answer the request sent meanwhile.
        def pushy(request):
            return [response("asked for"), response("never asked for")]

        with Origin(pushy, pause=0.2) as first, Origin(named("second", 0.3)) as second, \
                self.browser() as browser:
            stream = Stream(browser)
            browser.sendall(get(first, "/"))
            self.assertEqual(stream.answer()[1], b"asked for")
            browser.sendall(get(second, "/late"))
            self.assertEqual(stream.answer()[1], b"second /late")
            # Nor does it come later: the next answer is again the one asked for.
            browser.sendall(get(second, "/again"))
            self.assertEqual(stream.answer()[1], b"second /again")
            self.assertEqual(len(first.requests), 1)
            # The first server is still reachable, on a connection of its own.
            browser.sendall(get(first, "/"))
            self.assertEqual(stream.answer()[1], b"asked for")
            self.assertEqual(len(first.requests), 2)


if __name__ == "__main__":
    unittest.main()
