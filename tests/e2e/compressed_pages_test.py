"""Compressed pages: gzip, deflate, br and zstd answers reach the browser decoded
and filtered, chunked to HTTP/1.1 browsers and closed after the body for
HTTP/1.0 ones; a compressed image passes untouched; a gzip bomb streams through
with the proxy's memory bounded."""

import gzip
import os
import subprocess
import sys
import unittest
import zlib

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import WAIT, Closing, Origin, ProxyTest, Stream, get, header, response, rule

PAGE = b"<html>" + b"<p>kept text</p>" * 3000 + b'<div id="ad">advert</div></html>'
ACCEPT = "Accept-Encoding: gzip, deflate, br, zstd, dcb\r\n"


def compress(coding, data):
    if coding == "gzip":
        return gzip.compress(data)
    if coding == "deflate":
        return zlib.compress(data)
    tool = {"br": ["brotli", "-c"], "zstd": ["zstd", "-c", "-q"]}[coding]
    return subprocess.run(tool, input=data, capture_output=True, check=True, timeout=WAIT).stdout


def dechunk(raw):
    body = b""
    while True:
        size_line, raw = raw.split(b"\r\n", 1)
        size = int(size_line.split(b";")[0], 16)
        if size == 0:
            return body
        body, raw = body + raw[:size], raw[size + 2:]


class CompressedPagesTest(ProxyTest):
    RULES = rule('<content tag="div" attribname="id" attribvalue="ad"/>', "remove ads")

    def serve(self, answer):
        origin = Origin(lambda request: answer)
        self.addCleanup(origin.close)
        return origin

    def test_every_coding_arrives_decoded_and_filtered(self):
        for coding in ("gzip", "deflate", "br", "zstd"):
            with self.subTest(coding=coding):
                origin = self.serve(response(compress(coding, PAGE),
                                             extra=f'Content-Encoding: {coding}\r\nETag: "v1"\r\n'))
                with Stream.to(self.proxy) as browser:
                    browser.send(get(origin, "/page", extra=ACCEPT))
                    head, body = browser.answer()
                self.assertIsNone(header(head, "Content-Encoding"))
                self.assertIsNone(header(head, "Content-Length"))
                self.assertEqual(header(head, "ETag"), b'W/"v1"')
                page = dechunk(body)
                self.assertEqual(len(page), len(PAGE))
                self.assertIn(b"kept text", page)
                self.assertNotIn(b"advert", page)
                # The server was offered the decodable codings only.
                self.assertIn(b"\r\nAccept-Encoding: gzip, deflate, br, zstd\r\n",
                              origin.requests[-1])

    def test_an_empty_coded_body_ends_like_any_other(self):
        origin = self.serve(response(b"", extra="Content-Encoding: gzip\r\n"))
        with Stream.to(self.proxy) as browser:
            for _ in range(2):
                browser.send(get(origin, "/empty", extra=ACCEPT))
                head, body = browser.answer()
                self.assertEqual(dechunk(body), b"")

    def test_an_http10_browser_gets_the_page_until_the_close(self):
        origin = self.serve(response(compress("gzip", PAGE), extra="Content-Encoding: gzip\r\n"))
        with Stream.to(self.proxy) as browser:
            browser.send(get(origin, "/page", extra=ACCEPT).replace(b"HTTP/1.1", b"HTTP/1.0", 1))
            head, body = browser.answer()
        self.assertIsNone(header(head, "Transfer-Encoding"))
        self.assertEqual(len(body), len(PAGE))
        self.assertNotIn(b"advert", body)

    def test_a_compressed_image_passes_untouched(self):
        image = compress("gzip", b"\x89PNG\r\n\x1a\n" + os.urandom(5000))
        origin = self.serve(response(image, "image/png", "Content-Encoding: gzip\r\n"))
        with Stream.to(self.proxy) as browser:
            browser.send(get(origin, "/i.png", extra=ACCEPT))
            head, body = browser.answer()
        self.assertEqual(header(head, "Content-Encoding"), b"gzip")
        self.assertEqual(body, image)

    def test_a_gzip_bomb_streams_with_bounded_memory(self):
        zeros, bomb = bytes(1 << 20), zlib.compressobj(9, zlib.DEFLATED, 31)
        compressed = b"".join(bomb.compress(zeros) for _ in range(1024)) + bomb.flush()
        self.assertLess(len(compressed), 4 << 20)
        origin = self.serve(Closing([(
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\n"
            "Connection: close\r\n\r\n").encode() + compressed]))
        peak = 0
        with Stream.to(self.proxy) as browser:
            browser.sock.settimeout(60)
            browser.send(get(origin, "/bomb", extra=ACCEPT))
            head = browser.head()
            self.assertIsNone(header(head, "Content-Encoding"))
            received = len(browser.pending)
            while received < (1 << 30):
                piece = browser.sock.recv(1 << 20)
                if not piece:
                    break
                received += len(piece)
                peak = max(peak, self.proxy.rss_kib())
        # The decoded gigabyte passed (its chunk framing included), and the proxy
        # never held more than a small part of it.
        self.assertGreaterEqual(received, 1 << 30)
        self.assertLess(peak, 64 * 1024)


if __name__ == "__main__":
    unittest.main()
