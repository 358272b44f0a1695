"""Wine tier: the running agent tells the settings program each time a monitoring or
monitoring-stopped loop starts, with a 260-byte notice (result 1, empty text) on the settings
program's pipe. The stand-in settings program (settingsstub.exe) serves that pipe in the bed
and writes down every message.
"""

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
        """settingsstub.exe serving the pipe, writing each message to `name` as a line "<count> <hex>"
        and ending through its stop file after the test; gives the first `count` messages."""
        notices, stop_file = (agent.bed.host_path(wb.TOOLS_DIR + "\\" + name + end) for end in ("", ".stop"))
        for path in (notices, stop_file):
            path.unlink(missing_ok=True)
        process = agent.bed.spawn([wb.TOOLS_DIR + "\\settingsstub.exe", wb.TOOLS_DIR + "\\" + name],
                                  agent.bed.tmp_dir / (name + ".out"))

        def stop():
            stop_file.write_bytes(b"")
            self.assertEqual(wb.finish(process, 10), 0, "settingsstub.exe did not end cleanly")
        self.addCleanup(stop)
        # The notices file appears once the pipe exists.
        agent.wait_for(lambda: notices.exists() or process.poll() is not None, "the settings pipe", 20)

        def messages(count):
            def complete():
                found = [bytes.fromhex(line.split(" ")[1]) for line in notices.read_bytes().decode("ascii").split("\r\n")[:-1]]
                return len(found) >= count and found
            return agent.wait_for(complete, "%d messages" % count)
        return messages

    def test_a_notice_arrives_when_monitoring_starts_and_when_monitoring_stops(self):
        program = self.settings_program("notices.txt")
        agent.start()
        self.assertEqual(program(1), [STATE_NOTICE])
        # Each control through the real control manager: the loop, its state and its notice.
        for code, entry, state, count in ((132, MONITORING_STOPPED, 3, 2), (131, wb.MONITORING, 2, 3)):
            mark = agent.bed.event_mark()
            agent.control(code)
            agent.wait_entry(entry, mark)
            self.assertEqual((agent.status_value("ServiceStatus"), program(count)), (state, [STATE_NOTICE] * count))


if __name__ == "__main__":
    unittest.main()
