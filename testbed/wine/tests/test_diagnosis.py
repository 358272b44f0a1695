"""Wine tier: `ORVSVC.exe -diag` beside the real service, installed and running, reads the
service's state through the real control manager and its settings from the real registry.
That it writes nothing, and every other line, is host-tested.
"""

import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

agent = wb.AgentModule("diagnosis", settings={"CheckInterval": 3600, "OutputInterval": 86400})
setUpModule, tearDownModule = agent.set_up, agent.tear_down


class DiagnosisBesideTheRunningService(wb.AgentTest):
    agent = agent

    def test_diag_reports_the_running_agent(self):
        agent.start()
        result = agent.bed.agent("-diag", timeout=60)
        self.assertEqual((result.returncode, agent.bed.query(wb.SERVICE).state), (0, wb.SERVICE_RUNNING), result.err)
        lines = dict(reversed(re.findall(r"^  (\S(?:[^\r\n]*?\S)?)  +([^\r\n]*?)\s*$", result.out, re.M)))
        expected = {"installed": "yes", "state": "running", "CheckInterval": "3600", "DEVICEID": wb.DEVICE_TEXT,
                    "state at next reading": "2 monitoring"}
        self.assertEqual({k: lines.get(k) for k in expected}, expected, result.out)
        self.assertIn(wb.STAGING_API_HOST, lines.get("Web API host", ""), result.out)


if __name__ == "__main__":
    unittest.main()
