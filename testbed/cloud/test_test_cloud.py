"""Self-tests of TestCloud over real loopback sockets, for what the wine tests cannot show
when they fail: routing by host in both request-line forms, what is recorded, the answer
shape the agent's reader depends on, scripted transport failures and a bounded stop. The
rest of it (answers, downloads, uploads) is proven by the wine tests that use it."""

import http.client
import socket
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_cloud import KIND_REGISTRATION, Answer, TestCloud  # noqa: E402

DEVICE = "0102030405060708090A0B0C0D0E0F10"
MAC = "00:11:22:33:44:55"


def raw_exchange(port, request: bytes, timeout=5.0) -> bytes:
    """Sends bytes as they are and reads until the server closes or the answer is complete."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        sock.sendall(request)
        data = b""
        while True:
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                break
            data += chunk
            head, sep, body = data.partition(b"\r\n\r\n")
            if sep:
                length = [int(line.split(b":")[1]) for line in head.split(b"\r\n")
                          if line.lower().startswith(b"content-length:")]
                if length and len(body) >= length[0]:
                    break
        return data


class CloudTestCase(unittest.TestCase):
    def setUp(self):
        self.cloud = TestCloud()
        self.cloud.start()
        self.addCleanup(self.cloud.stop)

    def via_proxy(self, method, host, path, body=None, headers=None, absolute=False):
        """One request as WinHTTP sends it to a named proxy (origin-form plus Host), or as a
        real proxy client does (absolute-form). Returns (status, body bytes)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.cloud.port, timeout=10)
        try:
            target = ("http://%s%s" % (host, path)) if absolute else path
            conn.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
            conn.putheader("Host", host)
            conn.putheader("User-Agent", "Orvane Agent")
            for name, value in (headers or {}).items():
                conn.putheader(name, value)
            conn.putheader("Content-Length", str(len(body or b"")))
            conn.endheaders(body or None)
            response = conn.getresponse()
            return response.status, response.read()
        finally:
            conn.close()

    def get_device(self, dev_id=DEVICE, host="api.orvane.example", absolute=False, suffix=""):
        return self.via_proxy("GET", host, "/nasapi/devices/%s%s" % (dev_id, suffix),
                              headers={"X-NASAPI-Device-Subkey": MAC}, absolute=absolute)


class RoutingTest(CloudTestCase):
    def test_both_request_line_forms_reach_the_host_they_name(self):
        self.cloud.add_device(DEVICE)
        self.cloud.add_download("http://downloads.orvane.example/a/f.bin", b"data")
        for absolute in (False, True):
            with self.subTest(absolute=absolute):
                self.assertEqual(self.get_device(absolute=absolute)[0], 200)
                self.assertEqual(self.get_device(host="staging-api.orvane.example",
                                                 absolute=absolute)[0], 200)
                self.assertEqual(self.via_proxy("GET", "downloads.orvane.example", "/a/f.bin",
                                                absolute=absolute), (200, b"data"))
                self.assertEqual(self.via_proxy("GET", "elsewhere.example", "/a/f.bin",
                                                absolute=absolute)[0], 502)
        routes = [(r.route, r.absolute_form) for r in self.cloud.requests()]
        self.assertEqual(routes, [("api", False), ("api", False), ("download", False),
                                  ("unknown", False), ("api", True), ("api", True),
                                  ("download", True), ("unknown", True)])

    def test_absolute_form_authority_wins_over_the_host_header_and_ports_are_ignored(self):
        raw = (b"GET http://downloads.orvane.example:80/x HTTP/1.1\r\n"
               b"Host: api.orvane.example\r\nConnection: close\r\n\r\n")
        raw_exchange(self.cloud.port, raw)
        raw_exchange(self.cloud.port, b"GET /x HTTP/1.1\r\nHost: API.orvane.example:80\r\n"
                                      b"Connection: close\r\n\r\n")
        self.assertEqual([(r.route, r.host) for r in self.cloud.requests()],
                         [("download", "downloads.orvane.example"), ("api", "api.orvane.example")])

    def test_connect_for_tls_is_recorded_and_refused(self):
        answer = raw_exchange(self.cloud.port, b"CONNECT api.orvane.example:443 HTTP/1.1\r\n"
                                               b"Host: api.orvane.example:443\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 502"), answer)
        [request] = self.cloud.requests()
        self.assertEqual((request.route, request.host, request.method),
                         ("connect", "api.orvane.example", "CONNECT"))


class RecordingTest(CloudTestCase):
    def test_every_request_is_recorded_with_line_headers_body_and_status(self):
        before = time.time()
        self.via_proxy("POST", "api.orvane.example", "/nasapi/devices?x=1", body=b"\x00\x01",
                       headers={"X-NASAPI-Device-Subkey": MAC})
        [request] = self.cloud.requests()
        self.assertEqual(request.request_line, "POST /nasapi/devices?x=1 HTTP/1.1")
        self.assertEqual((request.method, request.path, request.query), ("POST", "/nasapi/devices", "x=1"))
        self.assertEqual(request.header("x-nasapi-device-subkey"), MAC)
        self.assertEqual(request.header("User-Agent"), "Orvane Agent")
        self.assertEqual((request.body, request.kind, request.status), (b"\x00\x01", KIND_REGISTRATION, 400))
        self.assertGreaterEqual(request.time, before)


class ApiTest(CloudTestCase):
    def test_registration_data_puts_dev_id_first_and_quotes_every_value(self):
        self.cloud.add_device(DEVICE, answer_dev_id="F" * 32, dev_id_changed="1")
        status, body = self.get_device(dev_id=DEVICE.lower())
        self.assertEqual(status, 200)
        self.assertEqual(body, b'{"dev_id":"' + b"F" * 32 + b'","dev_id_changed":"1","mac_adr_changed":"0"}')


class ScriptTest(CloudTestCase):
    def test_a_dropped_answer_is_a_transport_failure(self):
        self.cloud.script("/x", Answer(drop=True), host="downloads.orvane.example")
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            self.via_proxy("GET", "downloads.orvane.example", "/x")
        self.assertEqual(self.cloud.requests()[0].status, 0)

    def test_a_slow_answer_is_late_and_stop_does_not_wait_for_it(self):
        self.cloud.add_device(DEVICE)
        self.cloud.script("/nasapi/devices/" + DEVICE, Answer(delay=0.4, body="{}"))
        started = time.monotonic()
        self.assertEqual(self.get_device(), (200, b"{}"))
        self.assertGreaterEqual(time.monotonic() - started, 0.4)

        self.cloud.script("/nasapi/devices/" + DEVICE, Answer(delay=60))
        outcome = []

        def late_client():
            try:
                outcome.append(self.get_device())
            except (http.client.HTTPException, OSError) as error:
                outcome.append(type(error))

        client = threading.Thread(target=late_client)
        client.start()
        self.cloud.wait_requests(lambda r: True, count=1, timeout=5)
        time.sleep(0.1)  # let the second request reach its delay
        started = time.monotonic()
        self.cloud.stop(timeout=5)
        self.assertLess(time.monotonic() - started, 5)
        client.join(5)
        self.assertFalse(client.is_alive())
        self.assertEqual(len(outcome), 1)
        self.assertNotIsInstance(outcome[0], tuple, "an answer was sent after stop")
        names = [t.name for t in threading.enumerate() if t.name.startswith("TestCloud")]
        self.assertEqual(names, [])


if __name__ == "__main__":
    unittest.main()
