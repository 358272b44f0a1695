"""Wine tier: the running agent tells the settings program each time a monitoring or
monitoring-stopped loop starts, with a 260-byte notice (result 1, empty text) on the settings
program's pipe, and sends its registration record on control 130. The stand-in settings
program (settingsstub.exe) serves that pipe in the bed and writes down every message.
"""

import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

MONITORING_STOPPED = 0x4000044E
STATE_NOTICE = b"\x01\x00\x00\x00" + b"\x00" * 256

agent = wb.AgentModule("notice", tools=("settingsstub.exe",))
setUpModule, tearDownModule = agent.set_up, agent.tear_down


class NoticeTest(wb.AgentTest):
    agent = agent

    def settings_program(self, name):
        """settingsstub.exe serving the pipe, writing each message to `name` as a line "<count>
        <hex>"; asked to end through its stop file at the test's end (its PID killed only if it
        does not), and a function giving the first `count` messages once they came."""
        bed = agent.bed
        notices, stop_file = (bed.host_path(wb.TOOLS_DIR + "\\" + name + end) for end in ("", ".stop"))
        for path in (notices, stop_file):
            path.unlink(missing_ok=True)
        with open(bed.tmp_dir / (name + ".out"), "ab") as output:
            process = subprocess.Popen([wb.WINE64, wb.TOOLS_DIR + "\\settingsstub.exe", wb.TOOLS_DIR + "\\" + name],
                                       env=bed.env(), stdin=subprocess.DEVNULL, stdout=output, stderr=output,
                                       cwd=str(bed.root))

        def stop():
            stop_file.write_bytes(b"")
            try:
                self.assertEqual(process.wait(timeout=10), 0, "settingsstub.exe did not end cleanly")
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait(timeout=10)
        self.addCleanup(stop)
        # The notices file appears once the pipe exists.
        agent.wait_for(lambda: notices.exists() or process.poll() is not None, "the settings pipe", 20)

        def messages(count):
            def complete():
                lines = [line.split(" ") for line in notices.read_bytes().decode("ascii").split("\r\n")[:-1]]
                found = [bytes.fromhex(digits) for _, digits in lines]
                self.assertEqual([len(m) for m in found], [int(n) for n, _ in lines])
                return len(found) >= count and found
            return agent.wait_for(complete, "%d messages" % count)
        return messages

    def test_a_notice_arrives_when_monitoring_starts_and_when_monitoring_stops(self):
        program = self.settings_program("notices.txt")
        agent.start()
        self.assertEqual(program(1), [STATE_NOTICE])
        mark = agent.bed.event_mark()
        agent.control(132)
        agent.wait_entry(MONITORING_STOPPED, mark)
        self.assertEqual(program(2), [STATE_NOTICE] * 2)
        mark = agent.bed.event_mark()
        agent.control(131)
        agent.wait_entry(wb.MONITORING, mark)
        self.assertEqual(program(3), [STATE_NOTICE] * 3)

    def test_a_registration_refresh_sends_the_registration_record(self):
        program = self.settings_program("record.txt")
        agent.start()
        agent.control(130)
        record = program(2)[1]
        self.assertEqual(len(record), 1441)
        self.assertIn(record[4], (2, 4))  # monitoring, with or without the cloud's answer
        self.assertEqual(record[21:37], bytes.fromhex(wb.DEVICE_ID))
        self.assertEqual(record[661:693], b"WIN" + b"\x00" * 29)
        self.assertEqual(record[1117:1181].rstrip(b"\x00"), b"ORVSVC")  # the module name, no extension


if __name__ == "__main__":
    unittest.main()
