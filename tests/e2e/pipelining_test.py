"""Several requests on one browser connection: requests sent together each reach
their own server, answers come back in the order of the requests, a blocked one
ends the connection after the answers before it, a request arriving a few bytes
at a time is still read whole, and an answer nobody asked for is never passed on."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import Origin, ProxyTest, Stream, chunked, get, relayed, response, rule


def named(name, delay=0.0):
    """A handler answering `name` and the path asked for, after `delay` seconds."""
    def handler(request):
        time.sleep(delay)
        return response(name + " " + request.split(b" ")[1].decode())
    return handler


class PipeliningTest(ProxyTest):
    RULES = rule('<request contains="blocked-path"/>', "block requests")

    def test_requests_sent_together_reach_their_servers_and_answers_keep_their_order(self):
        # The first server answers late, or sends its answer in two parts with a
        # pause between: its answer must still come first, and whole.
        def in_parts(request):
            answer = named("slow")(request)
            return [answer[:-3], answer[-3:]]

        for kept_alive, handler in ((False, named("slow", 0.3)), (True, named("slow", 0.3)),
                                    (True, in_parts)):
            with self.subTest(kept_alive=kept_alive, in_parts=handler is in_parts), \
                    Origin(handler) as slow, Origin(named("quick")) as quick, \
                    Stream.to(self.proxy) as browser:
                if kept_alive:
                    browser.send(get(quick, "/before"))
                    self.assertEqual(browser.answer()[1], b"quick /before")
                browser.send(get(slow, "/first", extra="Accept: */*\r\n") + get(quick, "/second"))
                self.assertEqual(browser.answer()[1], b"slow /first")
                self.assertEqual(browser.answer()[1], b"quick /second")
                self.assertEqual(slow.requests, [relayed(get(slow, "/first", extra="Accept: */*\r\n"))])
                self.assertEqual(quick.requests[kept_alive:], [relayed(get(quick, "/second"))])

    def test_a_blocked_request_behind_another_ends_the_connection_after_its_answer(self):
        # Each of these is closed without an answer, but only once the answer owed
        # to the request before it is out.
        for name, request in (("blocked", lambda second: get(second, "/blocked-path")),
                              ("no server named", lambda second: b"GET /x HTTP/1.1\r\n\r\n")):
            with self.subTest(name), Origin(named("first", 0.1)) as first, Origin() as second, \
                    Stream.to(self.proxy) as browser:
                browser.send(get(first, "/fine") + request(second))
                self.assertEqual(browser.answer_if_any()[1], b"first /fine")
                self.assertEqual(browser.until_closed(), b"")
                time.sleep(0.2)
                self.assertEqual(len(first.requests), 1)
                self.assertNotIn(b"blocked-path", first.received)
                self.assertEqual(second.connections, 0)

    def test_a_later_request_arriving_a_few_bytes_at_a_time(self):
        for body in (b"", chunked(b"part one;", b"part two", extension=b";x=1",
                                  trailers=b"X-Sum: 1\r\n")):
            with self.subTest(chunked=bool(body)), Origin(named("first")) as first, \
                    Origin(named("second")) as second, Stream.to(self.proxy) as browser:
                browser.send(get(first, "/one"))
                self.assertEqual(browser.answer()[1], b"first /one")
                framing = "Transfer-Encoding: chunked\r\n" if body else ""
                request = get(second, "/two", "POST" if body else "GET",
                              "Accept: */*\r\n" + framing) + body
                for start in range(0, len(request), 3):
                    browser.send(request[start:start + 3])
                    time.sleep(0.005)
                self.assertEqual(browser.answer()[1], b"second /two")
                self.assertEqual(second.requests, [relayed(request)])
                self.assertEqual(first.received, relayed(get(first, "/one")))

    def test_an_answer_nobody_asked_for_never_reaches_the_browser(self):
        # The first server sends a second, whole answer 0.2 s after its real one;
        # the second server takes 0.3 s to answer the request sent meanwhile.
        def pushy(request):
            return [response("asked for"), response("never asked for")]

        with Origin(pushy, pause=0.2) as first, Origin(named("second", 0.3)) as second, \
                Stream.to(self.proxy) as browser:
            browser.send(get(first, "/"))
            self.assertEqual(browser.answer()[1], b"asked for")
            browser.send(get(second, "/late"))
            self.assertEqual(browser.answer()[1], b"second /late")
            # Nor does it come later: the next answer is again the one asked for.
            browser.send(get(second, "/again"))
            self.assertEqual(browser.answer()[1], b"second /again")
            self.assertEqual(len(first.requests), 1)
            # The first server is still reachable, on a connection of its own.
            browser.send(get(first, "/"))
            self.assertEqual(browser.answer()[1], b"asked for")
            self.assertEqual(len(first.requests), 2)


if __name__ == "__main__":
    unittest.main()
