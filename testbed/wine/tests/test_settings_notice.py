"""Wine tier: the running agent tells the settings program each time a monitoring or
monitoring-stopped loop starts, with a 260-byte notice (result 1, empty text) on the settings
program's pipe. The stand-in settings program (settingsstub.exe) serves that pipe in the bed
and writes down every message as it arrives.

The agent is registered (DEVICEID set, ServiceStatus 2) and its every request goes through
the test cloud as its proxy, to the staging host named in uploader.xml: nothing leaves the
loopback interface.

Needs ORVSVC_BIN_DIR holding ORVSVC.exe, svcctl.exe and settingsstub.exe (optionally
ORVSVC_BUILD_DIR for the prefix).
"""

import subprocess
import sys
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))
sys.path.insert(0, str(HERE.parents[2] / "cloud"))

import winebed as wb  # noqa: E402
from winebed import DEVICE_ID, DEVICE_TEXT, MONITORING, SERVICE, STATUS_KEY  # noqa: E402
from test_cloud import TestCloud  # noqa: E402

MONITORING_STOPPED = 0x4000044E
START_TIMEOUT = 30
STOP_TIMEOUT = 45
STATE_NOTICE = b"\x01\x00\x00\x00" + b"\x00" * 256

bed = None
cloud = None
bin_dir = None


def setUpModule():
    global bed, cloud, bin_dir
    bed = wb.module_bed("notice", {"ORVSVC.exe": wb.AGENT_DIR, "settingsstub.exe": wb.TOOLS_DIR})
    bin_dir = bed.bin_dir
    try:
        cloud = TestCloud()
        cloud.start()
        bed.prepare_agent(cloud.port)
        cloud.add_device(DEVICE_TEXT)
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


class SettingsProgram:
    """settingsstub.exe running in the bed. Started with Popen so its PID is ours: stop()
    asks it to end through its stop file and kills that PID only if it does not."""

    def __init__(self, name, suffix=""):
        self.notices = bed.host_path(wb.TOOLS_DIR + "\\" + name)
        self.stop_file = bed.host_path(wb.TOOLS_DIR + "\\" + name + ".stop")
        for path in (self.notices, self.stop_file):
            path.unlink(missing_ok=True)
        argv = [wb.WINE64, wb.TOOLS_DIR + "\\settingsstub.exe", wb.TOOLS_DIR + "\\" + name]
        if suffix:
            argv += ["--suffix", suffix]
        with open(bed.tmp_dir / (name + ".out"), "ab") as output:
            self.process = subprocess.Popen(argv, env=bed.env(), stdin=subprocess.DEVNULL,
                                            stdout=output, stderr=output, cwd=str(bed.root))
        # The notices file appears once the pipe exists.
        deadline = time.monotonic() + 20
        while not self.notices.exists():
            if self.process.poll() is not None:
                raise AssertionError("settingsstub.exe exited with %d" % self.process.returncode)
            if time.monotonic() > deadline:
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

    def wait_messages(self, count, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            found = self.messages()
            if len(found) >= count or time.monotonic() > deadline:
                return found
            time.sleep(0.1)

    def stop(self):
        if self.process.poll() is None:
            self.stop_file.write_bytes(b"")
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        return self.process.returncode


class NoticeTest(unittest.TestCase):
    def setUp(self):
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        self.switch = bed.host_path(wb.AGENT_DIR + "\\SVS_TESTMODE_6")
        self.switch.unlink(missing_ok=True)
        self.addCleanup(self.stop_service)

    def stop_service(self):
        status = bed.query(SERVICE)
        if status is not None and status.state != wb.SERVICE_STOPPED:
            bed.stop_service(SERVICE, STOP_TIMEOUT)

    def settings_program(self, name, suffix=""):
        program = SettingsProgram(name, suffix)
        self.addCleanup(lambda: self.assertEqual(program.stop(), 0, "settingsstub.exe did not end cleanly"))
        return program

    def wait_entry(self, event_id, mark):
        return bed.wait_event(lambda e: e.event_id == event_id, timeout=START_TIMEOUT, since=mark)

    def test_a_notice_arrives_when_monitoring_starts_and_when_monitoring_stops(self):
        program = self.settings_program("notices.txt")
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        self.wait_entry(MONITORING, mark)
        self.assertEqual(program.wait_messages(1), [STATE_NOTICE])

        mark = bed.event_mark()
        bed.control(SERVICE, 132)
        self.wait_entry(MONITORING_STOPPED, mark)
        self.assertEqual(program.wait_messages(2), [STATE_NOTICE] * 2)

        mark = bed.event_mark()
        bed.control(SERVICE, 131)
        self.wait_entry(MONITORING, mark)
        self.assertEqual(program.wait_messages(3), [STATE_NOTICE] * 3)

    def test_a_registration_refresh_sends_the_registration_record(self):
        program = self.settings_program("record.txt")
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        self.wait_entry(MONITORING, mark)
        bed.control(SERVICE, 130)
        messages = program.wait_messages(2)
        self.assertEqual(len(messages), 2, "no registration record after control 130")
        record = messages[1]
        self.assertEqual(len(record), 1441)
        self.assertIn(record[4], (2, 4))  # monitoring, with or without the cloud's answer
        self.assertEqual(record[21:37], bytes.fromhex(DEVICE_ID))
        self.assertEqual(record[661:693], b"WIN" + b"\x00" * 29)
        self.assertEqual(record[1117:1181].rstrip(b"\x00"), b"ORVSVC")  # the module name, no extension

    def test_test_switch_6_sends_only_the_registration_record_to_the_test_pipe(self):
        self.switch.write_bytes(b"")
        regular = self.settings_program("regular.txt")
        test_pipe = self.settings_program("test-pipe.txt", suffix="_TEST")
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        self.wait_entry(MONITORING, mark)
        self.assertEqual(regular.wait_messages(1), [STATE_NOTICE])
        bed.control(SERVICE, 130)
        records = test_pipe.wait_messages(1)
        self.assertEqual([len(record) for record in records], [1441],
                         "no registration record on the test pipe after control 130")
        self.assertEqual(regular.messages(), [STATE_NOTICE])


if __name__ == "__main__":
    unittest.main()
