"""Running the proxy: the one line it prints, a busy port at start-up, and SIGTERM
or SIGINT ending it promptly while connections are still open."""

import os
import signal
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from lumbra_e2e import LOOPBACK, WAIT, Lumbra, Origin, read_response

BUSY = "Could not start proxy server. Socket port busy."


class RunAndExitTest(unittest.TestCase):
    def test_prints_where_it_listens_and_where_its_configuration_is(self):
        with Lumbra() as proxy:
            config = os.path.join(proxy.folder, "config", "Lumbra_Corvane", "lumbra.xml")
            self.assertEqual(proxy.output,
                             f"Lumbra 1.0.0.1 listens on port {proxy.port} of every IPv4 "
                             f"interface, for this machine only; configuration: {config}\n")

    def test_busy_port_at_start_up(self):
        with socket.create_server(("", 0)) as taken:
            proxy = Lumbra(port=taken.getsockname()[1])
            try:
                proxy.start(expect_listening=False)
                status = proxy.process.wait(timeout=WAIT)
                error = proxy.process.stderr.read()
                output = proxy.process.stdout.read()
            finally:
                proxy.close()
        self.assertEqual(status, 1)
        self.assertIn(BUSY, error)
        self.assertEqual(output, "")

    def test_signals_end_it_promptly_with_connections_open(self):
        for number in (signal.SIGTERM, signal.SIGINT):
            with Origin() as origin, Lumbra() as proxy:
                address = f"{LOOPBACK}:{origin.port}"
                browsers = [proxy.connect() for _ in range(5)]
                for browser in browsers:
                    browser.sendall(f"GET http://{address}/ HTTP/1.1\r\nHost: {address}\r\n\r\n"
                                    .encode())
                    self.assertEqual(read_response(browser)[1], b"hello")
                proxy.process.send_signal(number)
                # Within the bounded wait, without waiting for the open connections.
                status = proxy.process.wait(timeout=WAIT)
                self.assertEqual(status, 0, number)
                # The port is free again at once.
                with socket.socket() as probe:
                    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                    probe.bind(("", proxy.port))
                for browser in browsers:
                    browser.close()


if __name__ == "__main__":
    unittest.main()
