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
PAGE = b"<p>secretword</p>"
FILTERED = b"<p>          </p>"


def body_text(size):
    """`size` bytes without a 0 byte (which would hide the rest of a piece from the
    rules), a rule's text in every 16 KiB of it."""
    data = bytearray(os.urandom(size).replace(b"\0", b"\1"))
    for at in range(0, size - 10, 16384):
        data[at:at + 10] = b"secretword"
    return bytes(data)


def digest(data):
    return hashlib.sha256(data).hexdigest()


class UnfilteredBodyTest(LeakCheckedProxyTest):
    RULES = RULES

    def test_each_framing_arrives_byte_exact_and_the_next_answer_is_still_filtered(self):
        data = body_text(6 << 20)
        head = b"HTTP/1.1 200 OK\r\nContent-Type: %s\r\n"
        answers = {
            "/image": head % b"image/png" + b"Content-Length: %d\r\n\r\n" % len(data) + data,
            "/allowed-chunked": head % b"text/html" + b"Transfer-Encoding: chunked\r\n\r\n"
            + chunked(data[:3 << 20], b"tail", data[3 << 20:]),
        }

        def serve(request):
            path = request.split(b" ")[1].decode()
            return answers[path] if path in answers else response(PAGE)

        with Origin(serve) as origin, Stream.to(self.proxy) as browser:
            for path, answer in answers.items():
                with self.subTest(path):
                    # Sent together: the page's answer waits behind the long one.
                    browser.send(get(origin, path) + get(origin, "/page"))
                    got = b"".join(browser.answer())
                    self.assertEqual((len(got), digest(got)), (len(answer), digest(answer)))
                    self.assertEqual(browser.answer()[1], FILTERED)
            self.assertEqual(origin.connections, 1)

    def test_an_answer_that_runs_until_the_server_closes(self):
        data = body_text(4 << 20)
        head = b"HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n"
        with Origin(lambda request: Closing([head, data])) as origin, \
                Stream.to(self.proxy) as browser:
            browser.send(get(origin, "/photo"))
            self.assertEqual(browser.head(), head)
            got = browser.until_closed()
            self.assertEqual((len(got), digest(got)), (len(data), digest(data)))

    def test_a_server_that_resets_mid_body_closes_the_browser_connection(self):
        listener = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(listener.close)

        def reset_after_a_megabyte():
            conn, _ = listener.accept()
            with conn:
                Stream(conn).head()
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                             b"Content-Length: %d\r\n\r\n" % (8 << 20) + os.urandom(1 << 20))
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))

        threading.Thread(target=reset_after_a_megabyte, daemon=True).start()
        with Stream.to(self.proxy) as browser:
            browser.send(get(f"127.0.0.1:{listener.getsockname()[1]}", "/reset"))
            head = browser.head()
            self.assertIn(b"Content-Length: 8388608", head)
            self.assertLessEqual(len(browser.until_closed()), 1 << 20)


class FilteringOffBodyTest(unittest.TestCase):
    def test_a_long_page_passes_unchanged(self):
        data = body_text(6 << 20)
        with Lumbra(RULES, enabled=False) as proxy, \
                Origin(lambda request: response(data if b"/long" in request else PAGE)) as origin, \
                Stream.to(proxy) as browser:
            browser.send(get(origin, "/long") + get(origin, "/page"))
            got = browser.answer()[1]
            self.assertEqual((len(got), digest(got)), (len(data), digest(data)))
            self.assertEqual(browser.answer()[1], PAGE)


if __name__ == "__main__":
    unittest.main()
