"""Blocking: a blocked request is closed without an answer before its server is
contacted; a blocked response ends the whole browser connection; an element left
open by one response never eats the next one; an element is removed across two
pieces of one response."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Origin, ProxyTest, get, read_response, read_until_closed,
                        response, rule)

RULES = (rule('<request contains="/blocked"/>', "block requests")
         + rule('<response contains="forbidden-text"/>', "block responses")
         + rule('<content tag="div" attribname="id" attribvalue="ad"/>', "remove ads"))


class BlockingTest(ProxyTest):
    RULES = RULES

    def test_blocked_first_request_never_reaches_the_server(self):
        with Origin() as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with self.proxy.connect() as browser:
                browser.sendall(get(address, "/blocked/x"))
                self.assertEqual(read_until_closed(browser), b"")
            time.sleep(0.2)
            self.assertEqual(origin.connections, 0)

    def test_blocked_request_on_a_kept_alive_connection_to_a_new_server(self):
        with Origin() as a, Origin() as b:
            with self.proxy.connect() as browser:
                browser.sendall(get(f"{LOOPBACK}:{a.port}", "/fine"))
                self.assertEqual(read_response(browser)[1], b"hello")
                browser.sendall(get(f"{LOOPBACK}:{b.port}", "/blocked"))
                self.assertEqual(read_until_closed(browser), b"")
            time.sleep(0.2)
            self.assertEqual(b.connections, 0)

    def test_blocked_response_ends_the_whole_browser_connection(self):
        def serve(request):
            if b"/bad" in request:
                return response("this holds forbidden-text")
            return response("fine")

        with Origin() as a, Origin(serve) as b:
            with self.proxy.connect() as browser:
                browser.sendall(get(f"{LOOPBACK}:{a.port}", "/"))
                self.assertEqual(read_response(browser)[1], b"hello")
                browser.sendall(get(f"{LOOPBACK}:{b.port}", "/bad"))
                self.assertEqual(read_until_closed(browser), b"")
            # The server connection of the other host was closed with it.
            self.assertTrue(_wait_closed_by_proxy(a))


class ResponsePiecesTest(ProxyTest):
    RULES = RULES

    def test_element_removed_across_two_pieces(self):
        first = b'<p>a</p><div id="ad">ad start'
        second = b" end</div><p>b</p>"
        head = (b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n"
                % (len(first) + len(second)))
        with Origin(lambda request: [head + first, second], pause=0.3) as origin:
            with self.proxy.connect() as browser:
                browser.sendall(get(f"{LOOPBACK}:{origin.port}", "/"))
                _, body = read_response(browser)
        self.assertEqual(len(body), len(first) + len(second))
        self.assertEqual(body, b"<p>a</p>" + b" " * (len(first) - 8 + 10) + b"<p>b</p>")

    def test_an_element_left_open_never_blanks_the_next_response(self):
        pages = [b'<div id="ad">never closed', b"<p>next page</p>"]

        def serve(request):
            return response(pages[0] if b"/first" in request else pages[1])

        with Origin(serve) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with self.proxy.connect() as browser:
                browser.sendall(get(address, "/first"))
                _, first = read_response(browser)
                browser.sendall(get(address, "/second"))
                _, second = read_response(browser)
        self.assertEqual(first, b" " * len(pages[0]))
        self.assertEqual(second, pages[1])


def _wait_closed_by_proxy(origin):
    """True once the origin's connection from the proxy has ended."""
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        with origin.lock:
            sockets = list(origin.open_sockets)
        if sockets and all(s.fileno() == -1 for s in sockets):
            return True
        time.sleep(0.05)
    return False


if __name__ == "__main__":
    unittest.main()
