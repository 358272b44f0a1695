"""Self-tests of TestCloud over real loopback sockets: routing by host in both request-line
forms, what is recorded, the Web API answers the agent's reader depends on, scripted
failures, downloads, uploads and a bounded stop."""

import base64
import http.client
import json
import socket
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_cloud import (KIND_LATEST_SOFTWARE, KIND_REGISTRATION, KIND_REGISTRATION_DATA,  # noqa: E402
                        Answer, TestCloud)

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

    def test_proxy_credentials_are_demanded_when_configured(self):
        self.cloud.proxy_credentials = ("user", "pa:ss")
        self.cloud.add_device(DEVICE)
        self.assertEqual(self.get_device()[0], 407)
        good = "Basic " + base64.b64encode(b"user:pa:ss").decode()
        status, _ = self.via_proxy("GET", "api.orvane.example", "/p/devices/" + DEVICE,
                                   headers={"X-NASAPI-Device-Subkey": MAC,
                                            "Proxy-Authorization": good})
        self.assertEqual(status, 200)


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

    def test_chunked_bodies_are_read_whole(self):
        raw = (b"POST /upload/RL[1].json HTTP/1.1\r\nHost: upload.orvane.example\r\n"
               b"X-Device-Id: " + DEVICE.encode() + b"\r\nX-Mac-Address: " + MAC.encode() +
               b"\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
               b"3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n")
        self.assertTrue(raw_exchange(self.cloud.port, raw).startswith(b"HTTP/1.1 200"))
        self.assertEqual(self.cloud.uploads()[0].data, b"abcde")

    def test_wait_requests_is_bounded_and_says_what_came(self):
        threading.Timer(0.1, self.get_device).start()
        self.assertEqual(len(self.cloud.wait_requests(lambda r: r.kind == KIND_REGISTRATION_DATA)), 1)
        started = time.monotonic()
        with self.assertRaises(AssertionError) as raised:
            self.cloud.wait_requests(lambda r: r.route == "upload", timeout=0.2)
        self.assertLess(time.monotonic() - started, 2)
        self.assertIn("/nasapi/devices/" + DEVICE, str(raised.exception))


class ApiTest(CloudTestCase):
    def test_registration_data_puts_dev_id_first_and_quotes_every_value(self):
        self.cloud.add_device(DEVICE, answer_dev_id="F" * 32, dev_id_changed="1")
        status, body = self.get_device(dev_id=DEVICE.lower())
        self.assertEqual(status, 200)
        self.assertEqual(body, b'{"dev_id":"' + b"F" * 32 + b'","dev_id_changed":"1","mac_adr_changed":"0"}')

    def test_registration_data_errors(self):
        self.cloud.add_device(DEVICE)
        cases = [
            (self.get_device(dev_id="0" * 32), 401, "4012"),
            (self.get_device(dev_id=DEVICE[:-2]), 400, "4004"),   # cut as test switch 7 does
            (self.get_device(dev_id="G" * 32), 400, "4005"),
            (self.via_proxy("GET", "api.orvane.example", "/p/devices/" + DEVICE), 400, "4000"),
            (self.via_proxy("DELETE", "api.orvane.example", "/p/devices/" + DEVICE), 405, "4050"),
            (self.via_proxy("GET", "api.orvane.example", "/p/other"), 404, "4040"),
        ]
        for (status, body), want_status, want_id in cases:
            with self.subTest(want_id=want_id):
                self.assertEqual(status, want_status)
                answer = json.loads(body)
                self.assertEqual(list(answer), ["error_id", "error_field", "error_value"])
                self.assertEqual(answer["error_id"], want_id)

    def test_latest_software_keeps_the_definition_readable_to_the_closing_tag(self):
        self.cloud.add_device(DEVICE)
        definition = '<?xml version="1.0"?>\r\n<config>\r\n\t<ver>2.00</ver> a\\b\r\n</config>'
        self.cloud.software.agt_ver = "1.30"
        self.cloud.software.agt_url = "http://downloads.orvane.example/agent/ORVSetup.zip"
        self.cloud.software.event_def = definition
        status, body = self.get_device(suffix="/software")
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(body), {"ms_ver": "1.00", "agt_ver": "1.30", "ms_url": "",
                                            "agt_url": self.cloud.software.agt_url,
                                            "event_def": definition})
        # No \uXXXX escapes: the agent undoes only the seven short ones.
        self.assertNotIn(b"\\u", body)
        self.assertTrue(body.endswith(b'</config>"}'))
        self.assertEqual(self.get_device(dev_id="A" * 32, suffix="/software")[0], 401)
        self.assertEqual([r.kind for r in self.cloud.requests()], [KIND_LATEST_SOFTWARE] * 2)

    def test_registration_registers_the_device_for_later_requests(self):
        record = {"email": "a@b", "password": "X", "dev_id": "0" * 32, "prdct_id": "P",
                  "mac_adr": MAC}
        body = json.dumps(record, separators=(",", ":")).encode("utf-16-le") + b"\x00\x00"
        status, answer = self.via_proxy("POST", "api.orvane.example", "/nasapi/devices", body=body,
                                        headers={"Content-Type": "application/json"})
        self.assertEqual(status, 201)
        answer_text = answer.decode()
        self.assertTrue(answer_text.startswith('{"dev_id":"'))
        values = json.loads(answer_text)
        self.assertEqual(list(values), ["dev_id", "dev_id_changed", "agt_daily_sec", "agt_status_sec"])
        self.assertEqual(values["dev_id_changed"], "1")
        self.assertEqual(self.cloud.requests()[0].registration_body(), record)
        self.assertEqual(self.get_device(dev_id=values["dev_id"])[0], 200)

        # A known identifier is kept; a body that is not JSON is refused.
        record["dev_id"] = DEVICE
        body = json.dumps(record).encode("utf-8")
        _, answer = self.via_proxy("POST", "api.orvane.example", "/nasapi/devices", body=body)
        self.assertEqual(json.loads(answer)["dev_id"], DEVICE)
        self.assertEqual(json.loads(answer)["dev_id_changed"], "0")
        self.assertEqual(self.via_proxy("POST", "api.orvane.example", "/nasapi/devices",
                                        body=b"{nope")[0], 400)

    def test_a_fixed_prefix_refuses_other_paths(self):
        self.cloud.prefix = "nasapi"
        self.cloud.add_device(DEVICE)
        self.assertEqual(self.get_device()[0], 200)
        status, _ = self.via_proxy("GET", "api.orvane.example", "//devices/" + DEVICE,
                                   headers={"X-NASAPI-Device-Subkey": MAC})
        self.assertEqual(status, 404)


class ScriptTest(CloudTestCase):
    def test_scripted_status_body_and_count(self):
        self.cloud.add_device(DEVICE)
        path = "/nasapi/devices/" + DEVICE
        self.cloud.script(path, Answer(status=500, body='{"error_id":"5000"'), )
        self.cloud.script(path, Answer(status=200, body=b"", times=1))
        self.assertEqual(self.get_device(), (200, b""))              # newest script, once
        self.assertEqual(self.get_device(), (500, b'{"error_id":"5000"'))
        self.cloud.clear_scripts()
        self.assertEqual(self.get_device()[0], 200)

    def test_a_status_alone_keeps_the_built_in_body_and_changes_nothing(self):
        self.cloud.script("/upload/RL[1].json", Answer(status=503))
        status, _ = self.via_proxy("POST", "upload.orvane.example", "/upload/RL[1].json", body=b"x",
                                   headers={"X-Device-Id": DEVICE, "X-Mac-Address": MAC})
        self.assertEqual(status, 503)
        self.assertEqual(self.cloud.uploads(), [])
        self.assertEqual(self.cloud.requests()[0].status, 503)

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


class DownloadUploadTest(CloudTestCase):
    def test_downloads_serve_registered_files_with_their_status(self):
        payload = bytes(range(256)) * 1000
        self.cloud.add_download("http://downloads.orvane.example/agent/ORVSetup.zip", payload)
        self.cloud.add_download("http://downloads.orvane.example/agent/gone.zip", b"", status=404)
        self.assertEqual(self.via_proxy("GET", "downloads.orvane.example", "/agent/ORVSetup.zip"),
                         (200, payload))
        self.assertEqual(self.via_proxy("GET", "downloads.orvane.example", "/agent/gone.zip")[0], 404)
        self.assertEqual(self.via_proxy("GET", "downloads.orvane.example", "/agent/none.zip")[0], 404)
        with self.assertRaises(ValueError):
            self.cloud.add_download("http://api.orvane.example/x", b"")

    def test_uploads_record_name_bytes_and_identity(self):
        headers = {"X-Device-Id": DEVICE, "X-Mac-Address": MAC}
        data = b"\xef\xbb\xbf{\r\n}"
        self.assertEqual(self.via_proxy("POST", "upload.orvane.example", "/upload/RE%5B1A%5D.json",
                                        body=data, headers=headers)[0], 200)
        [upload] = self.cloud.uploads()
        self.assertEqual((upload.name, upload.data, upload.device_id, upload.mac_address),
                         ("RE[1A].json", data, DEVICE, MAC))
        unregistered = dict(headers, **{"X-Device-Id": "0" * 32})
        for path, hdrs, want in (("/upload/RL[2].json", unregistered, 401),
                                 ("/upload/RL[2].json", {"X-Device-Id": DEVICE}, 400),
                                 ("/upload/", headers, 400),
                                 ("/elsewhere", headers, 404)):
            with self.subTest(path=path, want=want):
                self.assertEqual(self.via_proxy("POST", "upload.orvane.example", path, body=b"x",
                                                headers=hdrs)[0], want)
        self.assertEqual(len(self.cloud.uploads()), 1)


if __name__ == "__main__":
    unittest.main()
