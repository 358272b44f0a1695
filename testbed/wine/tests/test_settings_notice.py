"""Wine tier: the running agent tells the settings program each time a monitoring or
monitoring-stopped loop starts, with a 260-byte notice (result 1, empty text) on the settings
program's pipe, and sends its registration record on control 130. The stand-in settings
program (settingsstub.exe) serves that pipe in the bed and writes down every message.
"""

import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

MONITORING_STOPPED = 0x4000044E
STATE_NOTICE = b"\x01\x00\x00\x00" + b"\x00" * 256

agent = wb.AgentModule("notice", tools=("settingsstub.exe",))
setUpModule, tearDownModule = agent.set_up, agent.tear_down


class SettingsProgram:
    """settingsstub.exe running in the bed. Started with Popen so its PID is ours: stop()
    asks it to end through its stop file and kills that PID only if it does not."""

    def __init__(self, name):
        bed = agent.bed
        self.notices = bed.host_path(wb.TOOLS_DIR + "\\" + name)
        self.stop_file = bed.host_path(wb.TOOLS_DIR + "\\" + name + ".stop")
        for path in (self.notices, self.stop_file):
            path.unlink(missing_ok=True)
        with open(bed.tmp_dir / (name + ".out"), "ab") as output:
            self.process = subprocess.Popen(
                [wb.WINE64, wb.TOOLS_DIR + "\\settingsstub.exe", wb.TOOLS_DIR + "\\" + name], env=bed.env(),
                stdin=subprocess.DEVNULL, stdout=output, stderr=output, cwd=str(bed.root))
        # The notices file appears once the pipe exists.
        deadline = time.monotonic() + 20
        while not self.notices.exists():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise AssertionError("settingsstub.exe did not create its pipe within 20 s")
            time.sleep(0.05)

    def messages(self):
        """Every message so far as bytes; a line still being written is left for later."""
        found = []
        for line in self.notices.read_bytes().decode("ascii").split("\r\n")[:-1]:
            count, _, digits = line.partition(" ")
            data = bytes.fromhex(digits)
            if len(data) != int(count):
                raise AssertionError("notice line disagrees with itself: %r" % line)
            found.append(data)
        return found

    def wait_messages(self, count):
        return agent.wait_for(lambda: len(self.messages()) >= count and self.messages(), "%d messages" % count)

    def stop(self):
        if self.process.poll() is None:
            self.stop_file.write_bytes(b"")
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        return self.process.returncode


class NoticeTest(wb.AgentTest):
    agent = agent

    def settings_program(self, name):
        program = SettingsProgram(name)
        self.addCleanup(lambda: self.assertEqual(program.stop(), 0, "settingsstub.exe did not end cleanly"))
        return program

    def test_a_notice_arrives_when_monitoring_starts_and_when_monitoring_stops(self):
        program = self.settings_program("notices.txt")
        agent.start()
        self.assertEqual(program.wait_messages(1), [STATE_NOTICE])
        mark = agent.bed.event_mark()
        agent.control(132)
        agent.wait_entry(MONITORING_STOPPED, mark)
        self.assertEqual(program.wait_messages(2), [STATE_NOTICE] * 2)
        mark = agent.bed.event_mark()
        agent.control(131)
        agent.wait_entry(wb.MONITORING, mark)
        self.assertEqual(program.wait_messages(3), [STATE_NOTICE] * 3)

    def test_a_registration_refresh_sends_the_registration_record(self):
        program = self.settings_program("record.txt")
        agent.start()
        agent.control(130)
        record = program.wait_messages(2)[1]
        self.assertEqual(len(record), 1441)
        self.assertIn(record[4], (2, 4))  # monitoring, with or without the cloud's answer
        self.assertEqual(record[21:37], bytes.fromhex(wb.DEVICE_ID))
        self.assertEqual(record[661:693], b"WIN" + b"\x00" * 29)
        self.assertEqual(record[1117:1181].rstrip(b"\x00"), b"ORVSVC")  # the module name, no extension


if __name__ == "__main__":
    unittest.main()
