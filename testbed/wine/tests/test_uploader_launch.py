"""Wine tier: AgentCtrl_Upload starts the uploader through the real Win32 adapters
(uploadcheck.exe builds it the way the service does, beside the stand-in ORVUPLD.exe).

The stand-in uploader logs the command line it received and sends the pool through the proxy
that config.ini names: the test cloud on a loopback port. So a plain run proves the exact
command line, the module folder as current folder, a config.ini the uploader can read (with a
proxy user name that needs escaping) and an upload; forced exit codes prove what reaches the
event log, held failures included.

Needs ORVSVC_BIN_DIR holding uploadcheck.exe and ORVUPLD.exe (optionally ORVSVC_BUILD_DIR).
"""

import base64
import json
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))
sys.path.insert(0, str(HERE.parents[2] / "cloud"))

import winebed as wb  # noqa: E402
from test_cloud import TestCloud  # noqa: E402

STATUS = r"HKLM\SOFTWARE\ORVANE\ORVSVC\Status"
DEVICE_BYTES = bytes(range(1, 17))
# The GUID's text form: the first three fields are stored little-endian.
DEVICE = (DEVICE_BYTES[3::-1] + DEVICE_BYTES[5:3:-1] + DEVICE_BYTES[7:5:-1] + DEVICE_BYTES[8:]).hex().upper()
MAC = "00:11:22:33:44:55"
POOL = wb.AGENT_DIR + "\\MessagePool"
LINE = ('"%s\\ORVUPLD.exe" --poolpath "%s" --rcount 6 --rseconds 10 --messagehide '
        '--configpath "%s\\config.ini"' % (wb.AGENT_DIR, POOL, wb.AGENT_DIR))
FAILED = 0xC0000526
PREFIX = "アップローダーでエラーが発生しました。\n["

bed = None
cloud = None


def setUpModule():
    global bed, cloud
    bed = wb.module_bed("uploadlaunch", {"uploadcheck.exe": wb.AGENT_DIR, "ORVUPLD.exe": wb.AGENT_DIR})
    try:
        cloud = TestCloud()
        cloud.start()
    except BaseException:
        bed.close()
        raise


def tearDownModule():
    if bed is not None:
        bed.close()
    if cloud is not None:
        cloud.stop()


class UploaderLaunchTest(unittest.TestCase):
    def setUp(self):
        bed.reg_import({STATUS: {"ProxyEnable": 1, "ProxyServer": "127.0.0.1", "ProxyPort": cloud.port,
                                 "ProxyUser": "", "DEVICEID": DEVICE_BYTES}})
        self.pool = bed.host_path(POOL)
        self.pool.mkdir(parents=True, exist_ok=True)
        for path in self.pool.iterdir():
            path.unlink()
        bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log").unlink(missing_ok=True)
        cloud.clear_records()

    def run_check(self, *runs):
        mark = bed.event_mark()
        result = bed.run([wb.AGENT_DIR + "\\uploadcheck.exe", MAC] + list(runs), timeout=120,
                         capture_events=True, check=True)
        launches = [line.split("\t")[1] == "1" for line in result.out.splitlines() if line.startswith("launch")]
        entries = [e for e in bed.events_since(mark) if e.source == "ORVSVC"]
        return launches, entries

    def log_lines(self):
        path = bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log")
        return path.read_bytes().decode("utf-8").splitlines() if path.exists() else []

    def config(self):
        data = bed.host_path(wb.AGENT_DIR + "\\config.ini").read_bytes()
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        return json.loads(base64.b64decode(data[3:], validate=True).decode("ascii"))

    def test_a_plain_run_sends_the_pool_with_the_exact_command_line(self):
        (self.pool / "RL[1].json").write_bytes(b"\xef\xbb\xbf{\r\n    \"type\":\"status\"\r\n}")
        bed.reg_import({STATUS: {"ProxyUser": 'dom\\"user'}})  # the uploader refuses a config that is not JSON
        launches, entries = self.run_check("-")
        self.assertEqual(launches, [True])
        self.assertEqual(self.log_lines(), [LINE])
        self.assertEqual([(u.name, u.device_id, u.mac_address) for u in cloud.uploads()],
                         [("RL[1].json", DEVICE, MAC)])
        self.assertEqual(list(self.pool.iterdir()), [])
        self.assertEqual(entries, [])
        config = self.config()
        self.assertEqual((config["device_id"], config["proxy_host"], config["proxy_port"]),
                         (DEVICE, "127.0.0.1", str(cloud.port)))
        self.assertEqual(config["proxy_user"], 'dom\\"user')

    def test_one_uploader_at_a_time(self):
        (self.pool / "RL[1].json").write_bytes(b"\xef\xbb\xbf{\r\n}")
        launches, _ = self.run_check("keep")
        self.assertEqual(launches, [True, True])
        self.assertEqual(self.log_lines(), [LINE], "the second launch found the first running")

    def test_held_and_immediate_failures_reach_the_event_log(self):
        launches, entries = self.run_check("35", "64", "0")
        self.assertEqual(launches, [True, True, True])
        self.assertEqual([(e.event_id, e.text) for e in entries], [
            (FAILED, PREFIX + "サーバーへの接続に失敗しました(CODE=64)。]"),
            (FAILED, PREFIX + "設定ファイルに識別情報が見つかりません(CODE=35)。]"),
        ])
        launches, entries = self.run_check("19", "8")
        self.assertEqual([e.event_id for e in entries], [FAILED])
        expected = PREFIX + "--poolpath に指定された値が不正です(" + LINE + ")。]"
        # Wine's trace cuts long strings; what it shows must be the start of the whole text.
        if entries[0].truncated:
            self.assertTrue(expected.startswith(entries[0].text), entries[0].text)
            self.assertIn(LINE[:100], entries[0].text)
        else:
            self.assertEqual(entries[0].text, expected)

    def test_a_missing_uploader_is_reported_and_nothing_runs(self):
        uploader = bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.exe")
        hidden = uploader.with_name("ORVUPLD.away")
        uploader.rename(hidden)
        try:
            launches, entries = self.run_check("-")
        finally:
            hidden.rename(uploader)
        self.assertEqual(launches, [False])
        self.assertEqual([(e.event_id, e.text) for e in entries],
                         [(0xC0000527, "Orvaneアップローダーが見つかりません。")])
        self.assertEqual(self.log_lines(), [])


if __name__ == "__main__":
    unittest.main()
