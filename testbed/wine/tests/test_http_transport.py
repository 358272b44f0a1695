"""Wine tier: HTTP through the real WinHTTP adapter (oscheck.exe) against a small HTTP server
of this test on 127.0.0.1 (ephemeral port).

Raw exchanges check what reaches the server (method, exact path, headers, user agent, body) and
what comes back (status numbers, a body larger than one read). Requests of the Web API client
go to the staging host through a named proxy read from the registry: the same server plays the
proxy, and under Wine it receives origin-form request lines, so it routes by the Host header.

Needs ORVSVC_BIN_DIR holding oscheck.exe (and optionally ORVSVC_BUILD_DIR for the prefix).
"""

import hashlib
import http.server
import json
import re
import socket
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

STATUS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\Status"
STAGING_HOST = "staging-api.orvane.example"
USER_AGENT = "Orvane Agent"
DEVICE_ID = "0123456789ABCDEF0123456789ABCDEF"
BIG_BODY = bytes((i * 7 + i // 251) % 256 for i in range(200 * 1024))

bed = None
server = None


class Recorder(http.server.BaseHTTPRequestHandler):
    """Answers by path and records every request it sees."""

    protocol_version = "HTTP/1.1"
    seen = []

    def log_message(self, *args):
        pass

    def _answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        # The request line as sent: http.server folds a leading "//" of self.path into "/".
        Recorder.seen.append({"method": self.command, "path": self.requestline.split(" ")[1],
                              "headers": {k.lower(): v for k, v in self.headers.items()},
                              "body": body})
        if self.path.endswith("/trickle"):
            self._trickle()
            return
        status, payload = 200, json.dumps({"dev_id": DEVICE_ID, "dev_id_changed": "0"}).encode()
        match = re.search(r"/status/(\d+)$", self.path)
        if match:
            status = int(match.group(1))
            payload = json.dumps({"error_id": "4012", "error_field": "dev_id", "error_value": "X"}).encode()
        elif self.path.endswith("/big"):
            payload = BIG_BODY
        elif self.command == "POST":
            status = 201
            payload = json.dumps({"dev_id": DEVICE_ID, "dev_id_changed": "1",
                                  "agt_daily_sec": "60", "agt_status_sec": "5"}).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def _trickle(self):
        """Promises a large body and sends it a byte at a time, never pausing long enough for a
        per-read time-out: only a deadline for the whole exchange ends it."""
        self.send_response(200)
        self.send_header("Content-Length", "1000000")
        self.end_headers()
        try:
            for _ in range(600):
                self.wfile.write(b"x")
                self.wfile.flush()
                time.sleep(0.1)
        except OSError:
            pass  # the client gave up, as it should

    do_GET = _answer
    do_POST = _answer


def setUpModule():
    global bed, server
    bed = wb.module_bed("http", {"oscheck.exe": wb.TOOLS_DIR})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def tearDownModule():
    if server is not None:
        server.shutdown()
        server.server_close()
    if bed is not None:
        bed.close()


def port():
    return server.server_address[1]


def fields(text):
    """key=value pairs of oscheck http's line; the last key (text=) takes the rest of the line."""
    line = text.replace("\r\n", "\n").strip().splitlines()[-1]
    result = {}
    for match in re.finditer(r"(\w+)=(.*?)(?= \w+=|$)", line):
        result[match.group(1)] = match.group(2)
    return result


class RawExchangeTest(unittest.TestCase):
    def setUp(self):
        Recorder.seen.clear()
        self.out = bed.host_path("C:\\testbed\\answer.bin")

    def raw(self, method, path, *options, port_number=None):
        result = bed.run([wb.OSCHECK, "http", "raw", method, "127.0.0.1", str(port_number or port()), path,
                          "C:\\testbed\\answer.bin"] + list(options), timeout=120, check=True)
        return fields(result.out)

    def test_get_reaches_the_server_exactly(self):
        got = self.raw("GET", "/v1/devices/%s" % DEVICE_ID, "--header", "X-NASAPI-Device-Subkey:00:11:22:AA:BB:CC")
        self.assertEqual((got["answered"], got["status"], got["error"]), ("1", "200", "0"))
        self.assertEqual(len(Recorder.seen), 1)
        seen = Recorder.seen[0]
        self.assertEqual((seen["method"], seen["path"]), ("GET", "/v1/devices/%s" % DEVICE_ID))
        self.assertEqual(seen["headers"]["x-nasapi-device-subkey"], "00:11:22:AA:BB:CC")
        self.assertEqual(seen["headers"]["user-agent"], USER_AGENT)
        self.assertEqual(json.loads(self.out.read_bytes())["dev_id"], DEVICE_ID)

    def test_post_carries_headers_and_body(self):
        body = '{"email":"a@b.example"}'
        got = self.raw("POST", "//devices", "--header", "Content-Type:application/json",
                       "--header", "Accept:application/json", "--body", body)
        self.assertEqual((got["answered"], got["status"]), ("1", "201"))
        seen = Recorder.seen[0]
        self.assertEqual((seen["method"], seen["path"], seen["body"]), ("POST", "//devices", body.encode()))
        self.assertEqual(seen["headers"]["content-type"], "application/json")
        self.assertEqual(seen["headers"]["accept"], "application/json")

    def test_status_numbers_come_back(self):
        for status in (200, 401, 500):
            with self.subTest(status=status):
                got = self.raw("GET", "/status/%d" % status)
                self.assertEqual((got["answered"], got["status"]), ("1", str(status)))
                self.assertEqual(int(got["bytes"]), self.out.stat().st_size)
                self.assertGreater(int(got["bytes"]), 0)

    def test_large_body_arrives_whole(self):
        got = self.raw("GET", "/files/big")
        self.assertEqual(int(got["bytes"]), len(BIG_BODY))
        self.assertEqual(hashlib.sha256(self.out.read_bytes()).hexdigest(), hashlib.sha256(BIG_BODY).hexdigest())

    def test_a_trickling_answer_ends_at_the_exchange_deadline(self):
        started = time.monotonic()
        answer = self.raw("GET", "/trickle", "--deadline", "3000")
        self.assertEqual((answer["answered"], answer["error"]), ("0", "12002"))
        # Only a hang is caught here: ten times the deadline, whatever else the machine does.
        self.assertLess(time.monotonic() - started, 30)

    def test_closed_port_is_a_transport_failure(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            closed = probe.getsockname()[1]
        got = self.raw("GET", "/", port_number=closed)
        self.assertEqual(got["answered"], "0")
        self.assertEqual(got["error"], "12029")  # ERROR_WINHTTP_CANNOT_CONNECT

    def test_named_proxy_receives_the_request_for_the_origin_host(self):
        got = self.raw("GET", "/v1/devices/X", "--proxy", "127.0.0.1:%d" % port(), port_number=80)
        self.assertEqual((got["answered"], got["status"]), ("1", "200"))
        seen = Recorder.seen[0]
        self.assertTrue(seen["path"].endswith("/v1/devices/X"), seen["path"])


class WebApiClientTest(unittest.TestCase):
    """The Web API client as the agent uses it: staging host, registry proxy and path prefix."""

    @classmethod
    def setUpClass(cls):
        bed.reg_add(STATUS_KEY, "WebAPIFilePath", "REG_SZ", "v1")
        bed.reg_add(STATUS_KEY, "ProxyEnable", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "ProxyServer", "REG_SZ", "127.0.0.1")
        bed.reg_add(STATUS_KEY, "ProxyPort", "REG_DWORD", port())
        bed.reg_add(STATUS_KEY, "ProxyUser", "REG_SZ", "user1")

    def setUp(self):
        Recorder.seen.clear()

    def api(self, kind):
        return fields(bed.run([wb.OSCHECK, "http", "api", str(kind)], timeout=120, check=True).out)

    def test_registration_data_through_the_proxy(self):
        got = self.api(1)
        self.assertEqual((got["result"], got["status"], got["error"], got["dev_id"]), ("1", "200", "0", DEVICE_ID))
        self.assertEqual(got["text"], "正常終了")
        seen = Recorder.seen[0]
        self.assertEqual(seen["headers"]["host"], STAGING_HOST)
        self.assertTrue(seen["path"].endswith("/v1/devices/%s" % DEVICE_ID), seen["path"])
        self.assertEqual(seen["headers"]["x-nasapi-device-subkey"], "00:11:22:AA:BB:CC")
        self.assertEqual(seen["headers"]["user-agent"], USER_AGENT)

    def test_registration_is_posted_as_utf16(self):
        got = self.api(3)
        self.assertEqual((got["result"], got["status"]), ("1", "201"))
        seen = Recorder.seen[0]
        self.assertEqual(seen["method"], "POST")
        self.assertTrue(seen["path"].endswith("/v1/devices"), seen["path"])
        self.assertEqual(seen["headers"]["content-type"], "application/json")
        self.assertTrue(seen["body"].endswith(b"\0\0"))
        body = json.loads(seen["body"][:-2].decode("utf-16-le"))
        self.assertEqual(list(body)[:4], ["email", "password", "dev_name", "serial_no"])
        self.assertEqual(body["dev_name"], "棚のNAS")
        self.assertEqual(body["prdct_name"], 'NAS "Pro"')
        self.assertEqual(body["password"], hashlib.sha256(b"abc").hexdigest().upper())

    def test_error_text_falls_back_to_the_system_table(self):
        got = fields(bed.run([wb.OSCHECK, "http", "errtext", "5"], timeout=60, check=True).out)
        self.assertNotEqual(got["text"], "")
        bed.run([wb.OSCHECK, "http", "errtext", "12029"], timeout=60, check=True)


if __name__ == "__main__":
    unittest.main()
