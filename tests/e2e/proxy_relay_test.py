"""The proxy on the wire: what the origin receives, what the browser gets back,
keep-alive across hosts, image responses, split requests, filtering off, and the
page for requests addressed to the proxy itself."""

import sys
import time
import unittest

sys.path.insert(0, __import__("os").path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, Closing, Lumbra, Origin, ProxyTest, read_response,
                        read_until_closed, response, rule, wait_until)

# Removes "secretword" wherever it occurs, blanks the header name "X-Secret"
# (its line is then dropped), and removes div elements with id "ad".
RULES = rule('<content contains="secretword" action="remove"/>'
             '<content contains="X-Secret" action="remove"/>'
             '<content tag="div" attribname="id" attribvalue="ad"/>')


def get(target, host, extra=""):
    return (f"GET {target} HTTP/1.1\r\nHost: {host}\r\n{extra}\r\n").encode()


class ProxyRelayTest(ProxyTest):
    RULES = RULES

    def test_origin_form_and_blanked_headers(self):
        with Origin() as origin:
            with self.proxy.connect() as browser:
                # An IP host with a port: both used to be left in absolute form.
                browser.sendall(get(f"http://{LOOPBACK}:{origin.port}/path?q=1",
                                    f"{LOOPBACK}:{origin.port}",
                                    "X-Secret: hidden\r\nAccept: */*\r\n"))
                head, body = read_response(browser)
            self.assertIn(b"200 OK", head)
            self.assertEqual(body, b"hello")
            request = origin.requests[0]
            self.assertTrue(request.startswith(b"GET /path?q=1 HTTP/1.1\r\n"), request)
            self.assertNotIn(b"hidden", request)
            self.assertIn(b"\r\nAccept: */*\r\n", request)
            for line in request.split(b"\r\n")[1:]:
                self.assertFalse(line.startswith(b" "), request)
            # A host name with a port: the name is resolved, the port is used.
            with self.proxy.connect() as browser:
                browser.sendall(get(f"http://localhost:{origin.port}/named",
                                    f"localhost:{origin.port}"))
                self.assertEqual(read_response(browser)[1], b"hello")
            self.assertTrue(origin.requests[1].startswith(b"GET /named HTTP/1.1\r\n"))

    def test_keep_alive_switches_hosts_and_reuses_connections(self):
        answer = lambda port: (lambda request: response(f"from {port}"))
        with Origin() as a, Origin() as b:
            a.handler = answer(a.port)
            b.handler = answer(b.port)
            # Two "hosts" by port on one address: the table keeps them apart.
            targets = [a, b, a]
            threads = self.proxy.thread_count()
            with self.proxy.connect() as browser:
                for origin in targets:
                    address = f"{LOOPBACK}:{origin.port}"
                    browser.sendall(get(f"http://{address}/", address))
                    head, body = read_response(browser)
                    self.assertEqual(body, f"from {origin.port}".encode())
                self.assertEqual(a.connections, 1)
                self.assertEqual(b.connections, 1)
                # Servers that owe nothing give back their relays' threads; the
                # next request to one starts a relay again on the same connection.
                self.assertTrue(wait_until(lambda: self.proxy.thread_count() == threads + 1))
                address = f"{LOOPBACK}:{a.port}"
                browser.sendall(get(f"http://{address}/", address))
                self.assertEqual(read_response(browser)[1], f"from {a.port}".encode())
                self.assertEqual(a.connections, 1)
            self.assertTrue(wait_until(lambda: self.proxy.thread_count() == threads))
            self.assertEqual(len(a.requests), 3)
            self.assertEqual(len(b.requests), 1)

    def test_a_server_that_closes_while_its_relay_is_parked_is_replaced(self):
        # The origin closes its connection a while after the answer, when nobody
        # reads it any more.
        with Origin(lambda request: Closing([response("first"), b""]), pause=0.6) as origin:
            with self.proxy.connect() as browser:
                address = f"{LOOPBACK}:{origin.port}"
                browser.sendall(get(f"http://{address}/", address))
                self.assertEqual(read_response(browser)[1], b"first")
                time.sleep(1.0)
                origin.handler = lambda request: response("second")
                browser.sendall(get(f"http://{address}/", address))
                self.assertEqual(read_response(browser)[1], b"second")
            self.assertEqual(origin.connections, 2)

    def test_every_standard_method_starts_a_new_request(self):
        with Origin() as a, Origin() as b:
            with self.proxy.connect() as browser:
                for origin, method in ((a, "GET"), (b, "DELETE"), (a, "PUT"), (b, "OPTIONS")):
                    address = f"{LOOPBACK}:{origin.port}"
                    browser.sendall(f"{method} http://{address}/{method} HTTP/1.1\r\n"
                                    f"Host: {address}\r\nContent-Length: 0\r\n\r\n".encode())
                    self.assertEqual(read_response(browser)[1], b"hello")
            self.assertEqual([r.split(b" ")[1] for r in a.requests], [b"/GET", b"/PUT"])
            self.assertEqual([r.split(b" ")[1] for r in b.requests], [b"/DELETE", b"/OPTIONS"])

    def test_long_response_arrives_whole_and_the_connection_goes_on(self):
        # Many full pieces in a row, which the relay sends on as one burst, then a
        # short last piece; the kept-alive connection then carries the next request.
        # Bytes step by 7, so no rule text can occur in them.
        body = bytes((i * 7) % 256 for i in range(3 * 1024 * 1024 + 123))
        with Origin(lambda request: response(body, "application/octet-stream")) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with self.proxy.connect() as browser:
                for _ in range(2):
                    browser.sendall(get(f"http://{address}/long", address))
                    head, got = read_response(browser)
                    self.assertIn(b"200 OK", head)
                    self.assertEqual(len(got), len(body))
                    self.assertEqual(got, body)
            self.assertEqual(origin.connections, 1)

    def test_image_responses_pass_unfiltered(self):
        def serve(request):
            if b"/image" in request:
                return response(b"\x89PNG secretword", "image/png")
            return response("<p>secretword</p>")

        with Origin(serve) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with self.proxy.connect() as browser:
                browser.sendall(get(f"http://{address}/image", address))
                _, image = read_response(browser)
                browser.sendall(get(f"http://{address}/page", address))
                _, page = read_response(browser)
        self.assertEqual(image, b"\x89PNG secretword")
        self.assertEqual(page, b"<p>          </p>")

    def test_request_split_over_several_sends(self):
        with Origin() as origin:
            address = f"{LOOPBACK}:{origin.port}"
            request = get(f"http://{address}/split", address, "Accept: */*\r\n")
            with self.proxy.connect() as browser:
                for start in range(0, len(request), 7):
                    browser.sendall(request[start:start + 7])
                    time.sleep(0.02)
                head, body = read_response(browser)
        self.assertEqual(body, b"hello")
        self.assertTrue(origin.requests[0].startswith(b"GET /split HTTP/1.1\r\n"))
        self.assertIn(b"Accept: */*\r\n\r\n", origin.requests[0])

    def test_page_for_the_proxy_itself(self):
        with self.proxy.connect() as browser:
            browser.sendall(get("/", f"{LOOPBACK}:{self.proxy.port}"))
            answer = read_until_closed(browser)
        self.assertIn(b"200 OK", answer)
        # The control panel's page, carrying the program's version.
        self.assertIn(b'<meta name="lumbra-token"', answer)
        self.assertIn(b"1.0.0.1", answer)
        # Also when asked for through the proxy with an absolute URL and "localhost".
        with self.proxy.connect() as browser:
            browser.sendall(get(f"http://localhost:{self.proxy.port}/",
                                f"localhost:{self.proxy.port}"))
            self.assertIn(b"Lumbra", read_until_closed(browser))


class FilteringOffTest(unittest.TestCase):
    def test_bytes_pass_unchanged(self):
        page = b"<div id=\"ad\">secretword</div>"
        with Lumbra(RULES, enabled=False) as proxy, Origin(lambda r: response(page)) as origin:
            address = f"{LOOPBACK}:{origin.port}"
            with proxy.connect() as browser:
                browser.sendall(get(f"http://{address}/", address, "X-Secret: kept\r\n"))
                _, body = read_response(browser)
            self.assertEqual(body, page)
            # Still cut to origin form on a direct connection.
            self.assertTrue(origin.requests[0].startswith(b"GET / HTTP/1.1\r\n"))
            self.assertIn(b"X-Secret: kept\r\n", origin.requests[0])


if __name__ == "__main__":
    unittest.main()
