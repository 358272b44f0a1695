"""Wine tier: `ORVSVC.exe -diag` beside the real service, installed and running.

The agent is registered, monitors with long intervals (so it is quiet once started) and has
open conditions in its state tables. Once the service has settled, `-diag` is run by hand:
its output must show what the service uses, and the agent's registry keys, the message pool
and the event log must be exactly as before. Every request goes to the test cloud on the
loopback interface. Needs ORVSVC_BIN_DIR holding ORVSVC.exe and svcctl.exe.
"""

import json
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))
sys.path.insert(0, str(HERE.parents[2] / "cloud"))

import winebed as wb  # noqa: E402
from winebed import AGENT_KEYS, DEVICE_ID, DEVICE_TEXT, MONITORING, SERVICE, STATUS_KEY  # noqa: E402
from test_cloud import TestCloud  # noqa: E402

NAS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS"
START_TIMEOUT = 40
STOP_HINT = 30
SETTLE_TIMEOUT = 30

bed = None
cloud = None


def setUpModule():
    global bed, cloud
    bed = wb.module_bed("diagnosis", {"ORVSVC.exe": wb.AGENT_DIR})
    try:
        cloud = TestCloud()
        cloud.start()
        bed.prepare_agent(cloud.port)
        cloud.add_device(DEVICE_TEXT)
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "CheckInterval", "REG_DWORD", 3600)
        bed.reg_add(STATUS_KEY, "OutputInterval", "REG_DWORD", 86400)
        bed.reg_add(NAS_KEY, "CPUFanStatusTable", "REG_SZ", "[4080][1][1][1500][CPUファン回転数低下][][0]")
        result = bed.agent("-install")
        if bed.query(SERVICE) is None:
            raise RuntimeError("-install did not create the service: %r" % result.out)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if bed is not None:
        bed.close()
    if cloud is not None:
        cloud.stop()


def snapshot():
    """The agent's registry keys, the pool's files with sizes and times, the log entries."""
    pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
    files = sorted((p.name, p.stat().st_size, p.stat().st_mtime_ns) for p in pool.iterdir()) if pool.is_dir() else []
    return {"registry": [bed.reg_export(key) for key in AGENT_KEYS], "pool": files,
            "events": [(e.event_id, e.text) for e in bed.events()]}


class DiagnosisBesideTheRunningService(unittest.TestCase):
    def tearDown(self):
        status = bed.query(SERVICE)
        if status is not None and status.state != wb.SERVICE_STOPPED:
            bed.stop_service(SERVICE, STOP_HINT + 15)

    def test_diag_reports_the_running_agent_and_changes_nothing(self):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == MONITORING, timeout=START_TIMEOUT, since=mark)
        # The start writes its first messages; with hour-long intervals nothing follows.
        deadline = time.monotonic() + SETTLE_TIMEOUT
        before = snapshot()
        while True:
            time.sleep(2)
            now = snapshot()
            if now == before:
                break
            before = now
            self.assertLess(time.monotonic(), deadline, "the service did not settle")

        result = bed.run([wb.AGENT_EXE, "-diag"], capture_events=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.err)
        text = result.stdout.decode("utf-8")

        self.assertEqual(snapshot(), before, "-diag left a trace")
        self.assertEqual(bed.query(SERVICE).state, wb.SERVICE_RUNNING)

        lines = {}
        for line in text.split("\r\n"):
            if line.startswith("  ") and not line.startswith("    "):
                label, _, value = line[2:].partition("  ")
                lines.setdefault(label.strip(), value.strip())
        self.assertEqual(lines.get("installed"), "yes", text)
        self.assertEqual(lines.get("state"), "running", text)
        self.assertEqual(lines.get("CheckInterval"), "3600", text)
        self.assertEqual(lines.get("CPUFanThreshold"), "2000 (default)", text)
        self.assertEqual(lines.get("DEVICEID"), DEVICE_TEXT, text)
        self.assertEqual(lines.get("state at next reading"), "2 monitoring", text)
        self.assertIn(wb.STAGING_API_HOST, lines.get("Web API host", ""), text)
        self.assertIn("CPUファン回転数低下", lines.get("CPUFanStatusTable", ""), text)

        message = text[text.index("\r\n{\r\n") + 2:]
        body = json.loads(message)
        self.assertEqual(body["type"], "status", message)
        self.assertIn("NOT WRITTEN", text)


if __name__ == "__main__":
    unittest.main()
