"""Block lists: a hosts file and an adblock-style list over HTTPS (a certificate
of our own, trusted through SSL_CERT_FILE) and a domain list from file:// block
their domains and subdomains, over CONNECT and plain HTTP, before any server is
contacted; look-alike and parent domains, exceptions and skipped lines pass; a
failed update and a restart without the list server block from the cache; the
panel counts what was blocked."""

import http.client
import json
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import LOOPBACK, Lumbra, Origin, TlsServer, read_response, response, wait_until

HOSTS = (b"# a hosts file\r\n127.0.0.1 localhost\r\n::1 ip6-localhost\r\n"
         b"0.0.0.0 adserver.test\r\n0.0.0.0 tracker.test metrics.test # two at once\r\n")
ADBLOCK = (b"[Adblock Plus 2.0]\n! a comment\n||ads.test^\n||thirdparty.test^$third-party\n"
           b"@@||good.ads.test^\n##.banner\n||paths.test/ads/*\n/banner[0-9]+/\n"
           b"||script.test^$script\n")
DOMAINS = b"# my own\nads.example.test\n"

BLOCKED = ["adserver.test", "metrics.test", "www.tracker.test", "ads.test", "x.ads.test",
           "thirdparty.test", "ads.example.test", "deep.sub.ads.example.test",
           "ADS.Example.TEST."]
PASSING = ["badads.example.test", "example.test", "good.ads.test", "a.good.ads.test",
           "paths.test", "script.test"]


def upstream_answer(request):
    if request.startswith(b"CONNECT "):
        return b"HTTP/1.1 200 Connection established\r\n\r\n"
    return response("passed")


class BlockListsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="lumbra-lists-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.files, self.failing = {"/hosts.txt": HOSTS, "/filters.txt": ADBLOCK}, False
        self.lists = TlsServer(lambda path: (500, b"") if self.failing else
                               (200, self.files[path]) if path in self.files else (404, b""))
        self.addCleanup(self.lists.close)
        domains = os.path.join(self.folder, "my domains.txt")
        with open(domains, "wb") as f:
            f.write(DOMAINS)
        # The corporate proxy stands in for every server: whatever reaches it was
        # not blocked, and no name is ever looked up.
        self.upstream = Origin(upstream_answer)
        self.addCleanup(self.upstream.close)
        extra = ("  <blocklists>\r\n"
                 f'   <list name="Hosts" url="{self.lists.url}/hosts.txt" enabled="yes"/>\r\n'
                 f'   <list name="Filters" url="{self.lists.url}/filters.txt" enabled="yes"/>\r\n'
                 f'   <list name="Mine" url="file://{domains.replace(" ", "%20")}" enabled="yes"/>\r\n'
                 '   <list name="Off" url="https://lists.invalid/off.txt" enabled="no"/>\r\n'
                 "  </blocklists>\r\n")
        self.proxy = Lumbra(corporate=(LOOPBACK, self.upstream.port), extra=extra,
                            env={"SSL_CERT_FILE": self.lists.cert})
        self.addCleanup(self.proxy.close)

    def panel(self, method, path, body=None):
        connection = http.client.HTTPConnection(LOOPBACK, self.proxy.port, timeout=10)
        try:
            headers = {}
            if body is not None:
                page = self.panel("GET", "/")[1]
                headers["X-Lumbra-Token"] = re.search(r'lumbra-token" content="(\w+)"', page)[1]
            connection.request(method, path, json.dumps(body) if body is not None else None,
                               headers)
            answer = connection.getresponse()
            return answer.status, answer.read().decode()
        finally:
            connection.close()

    def state(self):
        return json.loads(self.panel("GET", "/api/state")[1])

    def lists_loaded(self):
        return [(entry["domains"], entry["skipped"]) for entry in self.state()["blockLists"]]

    def verdicts(self, host):
        """For a plain request and a CONNECT for `host`: True when it was closed
        unanswered and nothing reached the upstream, False when it was passed on."""
        verdicts = []
        for request in (f"GET http://{host}/page HTTP/1.1\r\nHost: {host}\r\n\r\n",
                        f"CONNECT {host}:443 HTTP/1.1\r\nHost: {host}:443\r\n\r\n"):
            before = len(self.upstream.requests)
            with self.proxy.connect() as browser:
                browser.sendall(request.encode())
                head, _ = read_response(browser)
            verdicts.append(not head and len(self.upstream.requests) == before)
        return tuple(verdicts)

    def refused(self, host):
        verdicts = self.verdicts(host)
        self.assertEqual(verdicts[0], verdicts[1], host)
        return verdicts[0]

    def test_lists_block_from_the_network_then_from_the_cache(self):
        self.proxy.start()
        expected = [(3, 3), (2, 6), (1, 1), (0, 0)]
        self.assertTrue(wait_until(lambda: self.lists_loaded() == expected, 20),
                        self.state()["blockLists"])
        for host in BLOCKED:
            self.assertTrue(self.refused(host), host)
        for host in PASSING:
            self.assertFalse(self.refused(host), host)
        blocked = self.state()["blocked"]
        self.assertEqual(blocked["byLists"], 2 * len(BLOCKED))
        self.assertEqual(blocked["topHosts"][0], {"host": "ads.example.test", "count": 4})

        # A failed update keeps every list's copy and says why beside it.
        self.failing = True
        self.assertEqual(self.panel("POST", "/api/blocklists/update", {})[0], 200)
        self.assertTrue(wait_until(lambda: all(
            "500" in entry["error"] for entry in self.state()["blockLists"][:2]), 20))
        self.assertEqual(self.lists_loaded(), expected)
        self.assertTrue(self.refused("adserver.test"))

        # Without the list server a restart blocks from the cache at once.
        self.lists.close()
        self.proxy.stop()
        self.proxy.start()
        self.assertEqual(self.lists_loaded(), expected)
        self.assertTrue(self.refused("x.ads.test"))
        self.assertFalse(self.refused("good.ads.test"))

    def test_lists_added_switched_and_removed_from_the_panel(self):
        self.proxy.start()
        self.assertTrue(wait_until(lambda: self.lists_loaded()[0] == (3, 3), 20))
        for bad in ({"name": "", "url": self.lists.url + "/x"},
                    {"name": "x", "url": "ftp://lists.invalid/x"},
                    {"name": "again", "url": self.lists.url + "/hosts.txt"}):
            self.assertEqual(self.panel("POST", "/api/blocklists/add", bad)[0], 400, bad)
        self.files["/more.txt"] = b"0.0.0.0 more.test\n"
        self.assertEqual(self.panel("POST", "/api/blocklists/add",
                                    {"name": "More", "url": self.lists.url + "/more.txt"})[0], 200)
        self.assertTrue(wait_until(lambda: self.lists_loaded()[-1] == (1, 0), 20))
        self.assertTrue(self.refused("more.test"))

        self.panel("POST", "/api/blocklists/enable", {"index": 0, "enabled": False})
        self.assertTrue(wait_until(lambda: self.verdicts("adserver.test") == (False, False), 10))
        self.panel("POST", "/api/blocklists/remove", {"index": 4})
        self.assertTrue(wait_until(lambda: self.verdicts("more.test") == (False, False), 10))
        with open(os.path.join(self.proxy.folder, "config", "Lumbra_Corvane", "lumbra.xml")) as f:
            saved = f.read()
        self.assertIn(f'name="Hosts" url="{self.lists.url}/hosts.txt" enabled="no"', saved)
        self.assertNotIn("more.txt", saved)
        cached = os.listdir(os.path.join(self.proxy.folder, "config", "Lumbra_Corvane", "lists"))
        self.assertEqual(len(cached), 3, cached)


if __name__ == "__main__":
    unittest.main()
