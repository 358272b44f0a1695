"""Wine tier: `ORVSVC.exe -diag` beside the real service, installed and running.

The agent monitors with long intervals (so it is quiet once started) and has an open condition
in its state tables. Once the service has settled, `-diag` is run by hand: its output must show
what the service uses, and the agent's registry keys, the message pool and the event log must
be exactly as before.
"""

import json
import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

agent = wb.AgentModule("diagnosis", settings={"CheckInterval": 3600, "OutputInterval": 86400}, keys={
    r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS": {"CPUFanStatusTable": "[4080][1][1][1500][CPUファン回転数低下][][0]"}})
setUpModule, tearDownModule = agent.set_up, agent.tear_down


def snapshot():
    """The agent's registry keys, the pool's files with sizes and times, the log entries."""
    bed = agent.bed
    pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
    files = sorted((p.name, p.stat().st_size, p.stat().st_mtime_ns) for p in pool.iterdir()) if pool.is_dir() else []
    return {"registry": [bed.reg_export(key) for key in wb.AGENT_KEYS], "pool": files,
            "events": [(e.event_id, e.text) for e in bed.events()]}


class DiagnosisBesideTheRunningService(wb.AgentTest):
    agent = agent

    def test_diag_reports_the_running_agent_and_changes_nothing(self):
        agent.start()
        # The start writes its first messages; with hour-long intervals nothing follows.
        deadline, before, now = time.monotonic() + 30, None, snapshot()
        while now != before:
            self.assertLess(time.monotonic(), deadline, "the service did not settle")
            time.sleep(2)
            before, now = now, snapshot()

        result = agent.bed.run([wb.AGENT_EXE, "-diag"], capture_events=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.err)
        text = result.stdout.decode("utf-8")
        self.assertEqual(snapshot(), before, "-diag left a trace")
        self.assertEqual(agent.bed.query(wb.SERVICE).state, wb.SERVICE_RUNNING)

        lines = {}
        for label, value in re.findall(r"^  (\S(?:[^\r\n]*?\S)?)(?:  +([^\r\n]*?))?\s*$", text, re.M):
            lines.setdefault(label.strip(), value.strip())
        expected = {"installed": "yes", "state": "running", "CheckInterval": "3600",
                    "CPUFanThreshold": "2000 (default)", "DEVICEID": wb.DEVICE_TEXT,
                    "state at next reading": "2 monitoring"}
        self.assertEqual({k: lines.get(k) for k in expected}, expected, text)
        self.assertIn(wb.STAGING_API_HOST, lines.get("Web API host", ""), text)
        self.assertIn("CPUファン回転数低下", lines.get("CPUFanStatusTable", ""), text)
        body = json.loads(text[text.index("\r\n{\r\n") + 2:])
        self.assertEqual(body["type"], "status")
        self.assertIn("NOT WRITTEN", text)


if __name__ == "__main__":
    unittest.main()
