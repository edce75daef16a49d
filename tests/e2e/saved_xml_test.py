"""Files Lumbra writes stay XML that any reader takes: URLs with quotes, angle
brackets, ampersands, markup ends and control characters added by Instant
filtering leave lumbra.xml well formed with its ten rules in place, also after a
SIGHUP reload, and a saved record is well formed too. A leftover of an interrupted
save is removed at start."""

import http.client
import json
import os
import re
import signal
import sys
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, SOURCE_DIR, WAIT, Lumbra, Origin, get, read_response,
                        read_until_closed, wait_until)

RULE_NAMES = ["window.open", "javascript", "ad banners", "flash banners", "no referrer",
              "ActiveX", "Personal rules", "Google AdWords", "MSN AdCenter", "Yahoo! ads"]
URLS = ["http://en.wikipedia.org/wiki/Ender's_Game", "http://a.example/?q=a>b&c=<script>",
        'http://a.example/"quoted"&amp;', "http://a.example/]]>-->",
        "http://a.example/\t\r\n\x01\x1f\x7f%0A"]


def stored(url):
    """The URL as the file keeps it: control characters percent-encoded."""
    return "".join(f"%{ord(c):02X}" if ord(c) < 0x20 or c == "\x7f" else c for c in url)


class SavedXmlTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra()
        config_folder = os.path.join(self.proxy.folder, "config", "Lumbra_Corvane")
        self.config = os.path.join(config_folder, "lumbra.xml")
        with open(os.path.join(SOURCE_DIR, "resources", "default-config.xml"), newline="") as f:
            default = f.read().replace("<proxyport>8010<", f"<proxyport>{self.proxy.port}<")
        with open(self.config, "w", newline="") as f:
            f.write(default)
        self.leftover = self.config + ".tmp.99999999.0"
        for name in (self.leftover, os.path.join(config_folder, "notes.txt")):
            with open(name, "w") as f:
                f.write("<lumbra>")
        self.proxy.start()
        self.token = None

    def tearDown(self):
        self.proxy.close()

    def call(self, method, path, body=None):
        connection = http.client.HTTPConnection(LOOPBACK, self.proxy.port, timeout=WAIT)
        headers = {"Content-Type": "application/json"}
        if self.token:
            headers["X-Lumbra-Token"] = self.token
        connection.request(method, path, json.dumps(body) if body is not None else None, headers)
        answer = connection.getresponse()
        data = answer.read()
        connection.close()
        self.assertEqual(answer.status, 200, data)
        return data

    def start_panel(self):
        page = self.call("GET", "/").decode()
        self.token = re.search(r'name="lumbra-token" content="([0-9a-f]{32})"', page).group(1)

    def rules(self):
        return ElementTree.parse(self.config).getroot().find("filterrules")

    def test_instant_filtering_keeps_the_file_well_formed_across_a_reload(self):
        self.assertFalse(os.path.exists(self.leftover))
        self.assertTrue(os.path.exists(os.path.join(os.path.dirname(self.config), "notes.txt")))
        self.start_panel()
        with Origin() as origin:
            blocked = f"http://{LOOPBACK}:{origin.port}/wiki/Ender's_Game"
            for url, allow in [(url, allow) for url in URLS for allow in (True, False)] + [
                    (blocked, False)]:
                self.call("POST", "/api/instant-filter/open", {})
                self.call("POST", "/api/instant-filter/close", {"url": url, "allow": allow})

            rules = self.rules()
            self.assertEqual([r.get("name") for r in rules.findall("filterrule")], RULE_NAMES)
            self.assertEqual(len(list(rules)), 10)
            personal = rules.findall("filterrule")[6]
            self.assertEqual(personal.findall(".//filterrule"), [])
            expected = [stored(url) for url in URLS]
            self.assertEqual([e.get("contains") for e in personal.findall("allow")][-5:], expected)
            self.assertEqual([e.get("contains") for e in personal.findall("request")][-6:],
                             expected + [blocked])

            self.proxy.process.send_signal(signal.SIGHUP)
            self.assertTrue(wait_until(lambda: json.loads(self.call("GET", "/api/state"))
                                       ["rules"][6]["name"] == "Personal rules"))
            with self.proxy.connect() as browser:
                browser.sendall(get(origin, "/fine"))
                self.assertEqual(read_response(browser)[1], b"hello")
            with self.proxy.connect() as browser:
                browser.sendall(get(origin, "/wiki/Ender's_Game"))
                self.assertEqual(read_until_closed(browser), b"")
            self.assertTrue(self.proxy.is_alive())

    def test_saved_record_is_well_formed(self):
        self.start_panel()
        self.call("POST", "/api/command", {"command": "start-or-pause-recorder"})
        with Origin() as origin, self.proxy.connect() as browser:
            browser.sendall(get(origin, "/?q=<a>&r=\"'", extra="X-Note: <b> & 'c' \x01\r\n"))
            self.assertEqual(read_response(browser)[1], b"hello")
        record = ElementTree.fromstring(self.call("POST", "/api/record/save", {}))
        page = record.find("url")
        self.assertEqual(page.get("source"), f"http://{LOOPBACK}:{origin.port}/?q=<a>&r=\"'")
        self.assertEqual([h.get("value") for h in page.findall("header")
                          if h.get("name") == "X-Note"], ["<b> & 'c' \ufffd"])


if __name__ == "__main__":
    unittest.main()
