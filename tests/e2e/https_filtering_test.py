"""HTTPS filtering: a CONNECT to a chosen site is opened up with a certificate
from Lumbra's own authority and filtered like plain HTTP; a site not chosen, a
server whose certificate does not verify, and a host whose browser refused
Lumbra's certificate are passed through untouched."""

import hashlib
import os
import ssl
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from compressed_pages_test import compress
from lumbra_e2e import (LOOPBACK, WAIT, Lumbra, TlsServer, Stream, read_head, read_response,
                        read_until_closed, rule, wait_until)

PAGE = b'<html><p>kept</p><div id="ad">advert</div></html>'
BIG = os.urandom(10 << 20)
RULES = (rule('<request contains="/blocked"/>', "block requests")
         + rule('<content tag="div" attribname="id" attribvalue="ad"/>', "remove ads"))


def answer(path):
    if path == "/big":
        return 200, BIG
    coding = path.lstrip("/")
    if coding in ("gzip", "deflate", "br", "zstd"):
        return 200, compress(coding, PAGE), {"Content-Encoding": coding}
    return 200, PAGE


def settings(*sites, enabled=True):
    listed = "".join(f"<site>{site}</site>" for site in sites)
    return f'  <httpsfiltering enabled="{"yes" if enabled else "no"}">{listed}</httpsfiltering>\r\n'


def certificate_text(der):
    """What openssl says of a certificate given in DER form."""
    return subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-text"], input=der,
                          capture_output=True, check=True, timeout=WAIT).stdout.decode()


class HttpsFilteringTest(unittest.TestCase):
    def setUp(self):
        self.origin = TlsServer(answer)
        self.addCleanup(self.origin.close)
        # An origin whose certificate no authority Lumbra trusts has signed.
        self.stranger = TlsServer(answer)
        self.addCleanup(self.stranger.close)

    def start(self, sites):
        lumbra = Lumbra(RULES, extra=settings(*sites),
                        env={"SSL_CERT_FILE": self.origin.cert}).start()
        self.addCleanup(lumbra.close)
        self.authority = os.path.join(lumbra.env["XDG_CONFIG_HOME"], "Lumbra_Corvane", "ca")
        return lumbra

    def open_connect(self, lumbra, host, port):
        """A connection whose CONNECT to host:port has been answered."""
        sock = lumbra.connect()
        sock.sendall(f"CONNECT {host}:{port} HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode())
        head, rest = read_head(sock)
        self.assertIn(b" 200 ", head.split(b"\r\n")[0])
        self.assertEqual(rest, b"")
        return sock

    def tunnel(self, lumbra, host, port, trust):
        """A TLS connection through a CONNECT to host:port, trusting only `trust`."""
        context = ssl.create_default_context(cafile=trust)
        return context.wrap_socket(self.open_connect(lumbra, host, port), server_hostname=host)

    def fetch(self, tls, path, host):
        """(status, body) of one GET inside the tunnel."""
        tls.sendall(f"GET {path} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
        head, body = read_response(tls)
        return int(head.split()[1]), body

    def test_chosen_site_gets_a_leaf_of_the_authority_and_is_filtered(self):
        lumbra = self.start(["127.0.0.1"])
        ca = os.path.join(self.authority, "lumbra-ca.pem")
        descriptors = lumbra.descriptor_count()
        with self.tunnel(lumbra, LOOPBACK, self.origin.port, ca) as tls:
            text = certificate_text(tls.getpeercert(binary_form=True))
            status, body = self.fetch(tls, "/page", LOOPBACK)
            self.assertEqual(status, 200)
            self.assertIn(b"kept", body)
            self.assertNotIn(b"advert", body)
            # Compressed pages are decoded and filtered like plain ones.
            for coding in ("gzip", "deflate", "br", "zstd"):
                tls.sendall(f"GET /{coding} HTTP/1.1\r\nHost: {LOOPBACK}\r\n"
                            "Accept-Encoding: gzip, deflate, br, zstd\r\n\r\n".encode())
                head, body = Stream(tls).answer()
                self.assertNotIn(b"Content-Encoding", head)
                self.assertIn(b"kept", body)
                self.assertNotIn(b"advert", body)
            status, body = self.fetch(tls, "/big", LOOPBACK)
            self.assertEqual(hashlib.sha256(body).digest(), hashlib.sha256(BIG).digest())
            # A blocked request inside the tunnel is closed without an answer.
            tls.sendall(f"GET /blocked HTTP/1.1\r\nHost: {LOOPBACK}\r\n\r\n".encode())
            self.assertEqual(tls.recv(1), b"")
        # Every socket of the bridge and the decrypted connection is closed again.
        self.assertTrue(wait_until(lambda: lumbra.descriptor_count() <= descriptors))
        self.assertIn("IP Address:127.0.0.1", text)
        self.assertIn("TLS Web Server Authentication", text)
        self.assertIn("CA:FALSE", text)
        self.assertIn("O = Lumbra", text)
        self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.authority, "lumbra-ca.key")).st_mode),
                         0o600)
        self.assertEqual(stat.S_IMODE(os.stat(self.authority).st_mode), 0o700)

    def test_site_not_chosen_and_unverified_server_pass_through_untouched(self):
        lumbra = self.start(["127.0.0.1"])
        # Not chosen: the browser meets the origin's own certificate.
        with self.tunnel(lumbra, "localhost", self.origin.port, self.origin.cert) as tls:
            status, body = self.fetch(tls, "/page", "localhost")
            self.assertEqual(body, PAGE)
        # Chosen, but its certificate does not verify: passed through, never Lumbra's.
        with self.tunnel(lumbra, LOOPBACK, self.stranger.port, self.stranger.cert) as tls:
            status, body = self.fetch(tls, "/page", LOOPBACK)
            self.assertEqual(body, PAGE)

    def test_a_browser_that_refuses_the_certificate_gets_the_host_passed_through_next(self):
        lumbra = self.start(["localhost"])
        sock = self.open_connect(lumbra, "localhost", self.origin.port)
        with sock.dup() as watcher:
            with self.assertRaises(ssl.SSLError):
                ssl.create_default_context(cafile=self.origin.cert).wrap_socket(
                    sock, server_hostname="localhost")
            # Lumbra notes the refusal before it closes the connection; the next try
            # comes after that, as a browser's would.
            read_until_closed(watcher)
        with self.tunnel(lumbra, "localhost", self.origin.port, self.origin.cert) as tls:
            status, body = self.fetch(tls, "/page", "localhost")
            self.assertEqual(body, PAGE)


if __name__ == "__main__":
    unittest.main()
