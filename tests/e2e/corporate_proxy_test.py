"""The corporate proxy: every request goes to it in absolute form, rewritten only
by the rules; CONNECT is left to it. tinyproxy plays the corporate proxy."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from connect_test import PAGE
from lumbra_e2e import (LOOPBACK, WAIT, Lumbra, Origin, TlsServer, free_port, read_response,
                        read_until_closed, response, rule, wait_until)

RULES = rule('<content contains="secretword" action="remove"/>')


class Tinyproxy:
    """tinyproxy in the foreground on a free loopback port."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="lumbra-tinyproxy-")
        self.port = free_port()
        config = os.path.join(self.folder, "tinyproxy.conf")
        with open(config, "w") as f:
            f.write(f"Port {self.port}\nListen {LOOPBACK}\nTimeout 30\nMaxClients 50\n"
                    f"Allow {LOOPBACK}\nLogLevel Critical\n"
                    f'PidFile "{self.folder}/tinyproxy.pid"\n')
            if os.getuid() == 0:
                f.write("User nobody\nGroup nogroup\n")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", config],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        def accepting():
            try:
                socket.create_connection((LOOPBACK, self.port), timeout=1).close()
                return True
            except OSError:
                return False
        if not wait_until(accepting):
            self.close()
            raise RuntimeError("tinyproxy did not start")

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


class CorporateProxyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tinyproxy = Tinyproxy()
        cls.tls = TlsServer(lambda path: (200, PAGE))

    @classmethod
    def tearDownClass(cls):
        cls.tls.close()
        cls.tinyproxy.close()

    def setUp(self):
        self.proxy = Lumbra(RULES, corporate=(LOOPBACK, self.tinyproxy.port)).start()

    def tearDown(self):
        self.proxy.close()

    def test_requests_reach_the_origin_through_tinyproxy_and_are_filtered(self):
        with Origin(lambda request: response("<p>secretword kept?</p>")) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            # tinyproxy closes its client connection after each answer.
            for path in ("/one", "/two"):
                with self.proxy.connect() as browser:
                    browser.sendall(f"GET http://{address}{path} HTTP/1.1\r\nHost: {address}\r\n"
                                    "\r\n".encode())
                    head, body = read_response(browser)
                    self.assertIn(b"200", head)
                    self.assertEqual(body, b"<p>           kept?</p>")
            self.assertTrue(origin.requests[0].startswith(b"GET /one HTTP/1.1\r\n"))
            self.assertTrue(origin.requests[1].startswith(b"GET /two HTTP/1.1\r\n"))

    def test_connect_is_left_to_the_corporate_proxy(self):
        result = subprocess.run(
            ["curl", "-sS", "-k", "--max-time", str(int(WAIT)), "--proxy",
             f"http://{LOOPBACK}:{self.proxy.port}", f"https://localhost:{self.tls.port}/"],
            capture_output=True, timeout=WAIT * 2)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, PAGE)


class CorporateRequestFormTest(unittest.TestCase):
    def test_the_request_goes_out_in_absolute_form(self):
        # An origin standing in for the corporate proxy shows the bytes it gets.
        with Origin() as corporate:
            with Lumbra(RULES, corporate=(LOOPBACK, corporate.port)) as proxy:
                request = (b"GET http://example.invalid:8080/a?b HTTP/1.1\r\n"
                           b"Host: example.invalid:8080\r\nX-Note: secretword\r\n\r\n")
                with proxy.connect() as browser:
                    browser.sendall(request)
                    self.assertEqual(read_response(browser)[1], b"hello")
            self.assertEqual(corporate.requests[0], request.replace(b"secretword", b" " * 10))


class CorporateProxyIsNotTheProxyItselfTest(unittest.TestCase):
    def test_the_proxy_never_forwards_to_itself_and_still_serves_its_page(self):
        port = free_port()
        with Lumbra(RULES, corporate=(LOOPBACK, port), port=port) as proxy:
            threads = proxy.thread_count()
            with proxy.connect() as browser:
                browser.sendall(b"GET http://example.invalid/ HTTP/1.1\r\n"
                                b"Host: example.invalid\r\n\r\n")
                self.assertEqual(read_until_closed(browser), b"")
            # Its own page is still answered, also with the corporate proxy on.
            with proxy.connect() as browser:
                browser.sendall(f"GET / HTTP/1.1\r\nHost: {LOOPBACK}:{port}\r\n\r\n".encode())
                self.assertIn(b"Lumbra", read_until_closed(browser))
            self.assertTrue(wait_until(lambda: proxy.thread_count() == threads))


if __name__ == "__main__":
    unittest.main()
