"""The control panel of the running program: the page through curl (directly and
through the proxy itself), its token, a command, the refusals, Exit from the
panel, and a SIGHUP reload that new connections obey."""

import json
import os
import re
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import (LOOPBACK, WAIT, Lumbra, Origin, make_config, read_response,
                        read_until_closed, rule, wait_until)

TOGGLE_FILTERING = {"command": "toggle-filtering"}

# curl must not take a proxy from the environment.
CURL_ENV = {key: value for key, value in os.environ.items() if "proxy" not in key.lower()}


def curl(*arguments):
    result = subprocess.run(["curl", "-s", "-S", "--max-time", str(WAIT), "-i", *arguments],
                            env=CURL_ENV, capture_output=True, text=True, timeout=WAIT * 2)
    head, _, body = result.stdout.replace("\r\n", "\n").partition("\n\n")
    status = int(head.split()[1]) if head.startswith("HTTP/") else 0
    return status, head, body


class PanelTest(unittest.TestCase):
    def setUp(self):
        self.proxy = Lumbra(rule('<request contains="/stays"/>', "first rule"))
        # certutil looks at the browser stores of this home only.
        self.proxy.env["HOME"] = self.proxy.folder
        self.proxy.start()
        self.base = f"http://{LOOPBACK}:{self.proxy.port}"

    def tearDown(self):
        self.proxy.close()

    def token(self):
        status, _, page = curl(self.base + "/")
        self.assertEqual(status, 200)
        found = re.search(r'<meta name="lumbra-token" content="([0-9a-f]{32})">', page)
        self.assertIsNotNone(found, page)
        return found.group(1)

    def post(self, path, body, token, *extra):
        headers = ["-H", "Content-Type: application/json"]
        if token is not None:
            headers += ["-H", "X-Lumbra-Token: " + token]
        for header in extra:
            headers += ["-H", header]
        return curl("-X", "POST", *headers, "--data", json.dumps(body), self.base + path)

    def state(self):
        status, _, body = curl(self.base + "/api/state")
        self.assertEqual(status, 200)
        return json.loads(body)

    def test_page_direct_and_through_the_proxy_itself(self):
        direct = self.token()
        status, head, page = curl("-x", self.base, self.base + "/")
        self.assertEqual(status, 200)
        self.assertIn(direct, page)
        self.assertIn("Cache-Control: no-store", head)
        self.assertNotIn("Access-Control-", head)
        self.assertEqual(self.state()["options"]["port"], str(self.proxy.port))

    def test_commands_need_the_token_and_change_the_file(self):
        token = self.token()
        config = os.path.join(self.proxy.folder, "config", "Lumbra_Corvane", "lumbra.xml")
        for refused in (self.post("/api/command", TOGGLE_FILTERING, None),
                        self.post("/api/command", TOGGLE_FILTERING, "0" * 32),
                        self.post("/api/command", TOGGLE_FILTERING, token,
                                  "Origin: http://evil.example"),
                        self.post("/api/command", TOGGLE_FILTERING, token,
                                  f"Host: 127.1:{self.proxy.port}")):
            self.assertEqual(refused[0], 403)
            self.assertNotIn("Access-Control-", refused[1])
        self.assertTrue(self.state()["enabled"])

        status, _, body = self.post("/api/command", TOGGLE_FILTERING, token)
        self.assertEqual((status, json.loads(body)), (200, {"ok": True}))
        state = self.state()
        self.assertFalse(state["enabled"])
        self.assertEqual(state["tray"]["icon"], "off")
        with open(config, encoding="utf-8") as f:
            self.assertIn("<enabled>no</enabled>", f.read())

    def test_headers_refusals_and_no_request_text_in_answers(self):
        _, head, _ = curl(self.base + "/")
        for header in ("Content-Type: text/html; charset=utf-8", "X-Content-Type-Options: nosniff",
                       "X-Frame-Options: DENY", "frame-ancestors 'none'", "Connection: close"):
            self.assertIn(header, head)
        status, head, _ = curl(self.base + "/panel/panel.js")
        self.assertEqual(status, 200)
        self.assertIn("Content-Type: text/javascript", head)
        for path in ("/panel/index.html", "/panel/../CMakeLists.txt", "/panel/missing.js", "/x"):
            self.assertEqual(curl("--path-as-is", self.base + path)[0], 404, path)
        self.assertEqual(curl(self.base + "/api/command")[0], 405)

        token = self.token()
        for path, body in (("/api/command", {"command": "toggle"}), ("/api/command", {"command": 2}),
                           ("/api/command", {"id": 131}), ("/api/command", {"command": "save-record"}),
                           ("/api/command", json.loads("[" * 100 + "]" * 100)),
                           ("/api/rule/toggle", {"index": 1}), ("/api/rule/toggle", {"index": "0"}),
                           ("/api/dialog", {"id": 1})):
            self.assertEqual(self.post(path, body, token)[0], 400, (path, body))
        self.assertEqual(self.post("/api/command", " " * 70000, token)[0], 413)
        for answer in (curl("--path-as-is", self.base + "/<script>alert(1)</script>"),
                       self.post("/api/<script>alert(1)</script>", {}, token),
                       self.post("/api/command", {"command": "<script>alert(1)</script>"}, token)):
            self.assertNotEqual(answer[0], 0)
            self.assertNotIn("alert", answer[1] + answer[2])
        self.assertTrue(self.state()["enabled"])

    def test_https_routes_guarded_and_only_the_certificate_served(self):
        token = self.token()
        certificate_url = self.base + "/api/https/certificate"
        self.assertEqual(curl(certificate_url)[0], 404)
        for path, body in (("/api/https/enable", {"enabled": True}), ("/api/https/sites", {"sites": []}),
                           ("/api/https/install", {}), ("/api/https/uninstall", {}),
                           ("/api/https/remove-authority", {})):
            self.assertEqual(self.post(path, body, None)[0], 403, path)
            self.assertEqual(self.post(path, body, token, "Origin: http://evil.example")[0], 403, path)
            self.assertEqual(curl(self.base + path)[0], 405, path)
        self.assertEqual(self.post("/api/https/sites", {"sites": "a.com"}, token)[0], 400)
        status, _, body = self.post("/api/https/sites", {"sites": ["a.com", "not a site"]}, token)
        self.assertEqual(status, 400)
        self.assertIn('\\"not a site\\" is not a site', body)
        self.assertEqual(self.post("/api/https/enable", {"enabled": True}, token)[0], 200)
        self.assertEqual(self.state()["httpsFiltering"]["authority"]["state"], "ready")

        status, head, pem = curl(certificate_url)
        self.assertEqual(status, 200)
        self.assertIn("Content-Type: application/x-pem-file", head)
        self.assertIn('Content-Disposition: attachment; filename="lumbra-ca.pem"', head)
        ca = os.path.join(self.proxy.folder, "config", "Lumbra_Corvane", "ca")
        with open(os.path.join(ca, "lumbra-ca.pem")) as f:
            self.assertEqual(pem, f.read().replace("\r\n", "\n"))
        self.assertNotIn("PRIVATE", pem)
        # Nothing else of the authority's folder is ever served.
        for path in ("/panel/../ca/lumbra-ca.key", "/ca/lumbra-ca.key", "/api/https/key"):
            self.assertEqual(curl("--path-as-is", self.base + path)[0], 404, path)

    def test_exit_from_the_panel_ends_the_program(self):
        status, _, body = self.post("/api/command", {"command": "exit"}, self.token())
        self.assertEqual((status, json.loads(body)), (200, {"ok": True}))
        self.assertEqual(self.proxy.process.wait(timeout=WAIT), 0)

    def test_sighup_reload_reaches_new_connections(self):
        with Origin() as origin:
            address = f"{LOOPBACK}:{origin.port}"
            request = f"GET http://{address}/new HTTP/1.1\r\nHost: {address}\r\n\r\n".encode()
            with self.proxy.connect() as browser:
                browser.sendall(request)
                self.assertEqual(read_response(browser)[1], b"hello")

            config = os.path.join(self.proxy.folder, "config", "Lumbra_Corvane", "lumbra.xml")
            with open(config, "w", newline="") as f:
                f.write(make_config(self.proxy.port, rule('<request contains="/new"/>', "edited")))
            self.proxy.process.send_signal(signal.SIGHUP)
            self.assertTrue(wait_until(lambda: self.state()["rules"][0]["name"] == "edited"))

            with self.proxy.connect() as browser:
                browser.sendall(request)
                self.assertEqual(read_until_closed(browser), b"")
            self.assertTrue(self.proxy.is_alive())


if __name__ == "__main__":
    unittest.main()
