"""Bodies the rules do not see (an image, an allowed request, filtering switched
off) move socket to socket: they arrive byte for byte however they are framed,
the answers behind them keep their order and their filtering, a server that
resets mid-body ends the connection, and no descriptor or thread stays behind."""

import hashlib
import os
import socket
import struct
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (Closing, LeakCheckedProxyTest, Lumbra, Origin, Stream, chunked, get,
                        response, rule)

RULES = (rule('<content contains="secretword" action="remove"/>')
         + rule('<allow contains="/allowed"/>', "allow"))


def body_text(size):
    """Bytes without a 0 (which would hide the rest of a piece from the rules), with
    a rule's text in every 16 KiB."""
    return b"".join(b"secretword" + os.urandom(16374).replace(b"\0", b"\1")
                    for _ in range(size // 16384))


class UnfilteredBodyTest(LeakCheckedProxyTest):
    RULES = RULES

    def assertSameBytes(self, got, expected):
        self.assertEqual((len(got), hashlib.sha256(got).digest()),
                         (len(expected), hashlib.sha256(expected).digest()))

    def test_every_framing_arrives_byte_exact_and_the_answers_behind_stay_filtered(self):
        data = body_text(6 << 20)
        head = b"HTTP/1.1 200 OK\r\nContent-Type: %s\r\n"
        answers = {
            "/image": head % b"image/png" + b"Content-Length: %d\r\n\r\n" % len(data) + data,
            "/allowed": head % b"text/html" + b"Transfer-Encoding: chunked\r\n\r\n"
            + chunked(data[:3 << 20], b"tail", data[3 << 20:]),
            "/photo": Closing([head % b"image/jpeg" + b"\r\n" + data]),
            "/page": response(b"<p>secretword</p>"),
        }
        with Origin(lambda request: answers[request.split(b" ")[1].decode()]) as origin, \
                Stream.to(self.proxy) as browser:
            for path in ("/image", "/allowed"):
                # Sent together: the page's answer waits behind the long one.
                browser.send(get(origin, path) + get(origin, "/page"))
                self.assertSameBytes(b"".join(browser.answer()), answers[path])
                self.assertEqual(browser.answer()[1], b"<p>          </p>")
            browser.send(get(origin, "/photo"))
            self.assertSameBytes(browser.head() + browser.until_closed(), answers["/photo"][0])

    def test_filtering_switched_off(self):
        data = body_text(4 << 20)
        with Lumbra(RULES, enabled=False) as proxy, \
                Origin(lambda request: response(data)) as origin, Stream.to(proxy) as browser:
            browser.send(get(origin, "/page"))
            self.assertSameBytes(browser.answer()[1], data)

    def test_a_server_that_resets_mid_body_closes_the_browser_connection(self):
        listener = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(listener.close)

        def reset_after_a_megabyte():
            conn, _ = listener.accept()
            with conn:
                Stream(conn).head()
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                             b"Content-Length: 8388608\r\n\r\n" + os.urandom(1 << 20))
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

        threading.Thread(target=reset_after_a_megabyte, daemon=True).start()
        with Stream.to(self.proxy) as browser:
            browser.send(get(f"127.0.0.1:{listener.getsockname()[1]}", "/reset"))
            self.assertIn(b"Content-Length: 8388608", browser.head())
            self.assertLessEqual(len(browser.until_closed()), 1 << 20)


if __name__ == "__main__":
    unittest.main()
