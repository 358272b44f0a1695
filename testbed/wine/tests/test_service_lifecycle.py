"""Wine tier: the real ORVSVC.exe installs, runs, stops and removes itself as
a Windows service, with the texts and registry entries a user would see.

Needs ORVSVC_BIN_DIR (holding ORVSVC.exe and svcctl.exe) and optionally
ORVSVC_BUILD_DIR (where the Wine prefix lives; default: the parent of the bin
folder). Without ORVSVC_BIN_DIR the module is skipped; with it, a missing
program or a missing Wine is a failure, so a broken build cannot pass here.

One prefix serves the whole module; every test first returns the prefix to
"not installed" with Wine's own tools (sc, reg), so one failing install or
remove cannot leak into the next test.
"""

import json
import os
import socket
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

SERVICE = "ORVSVC"
DISPLAY_NAME = "Orvaneエージェントサービス"
DESCRIPTION = "Orvaneサービスへ情報を送信します。"
STARTED_TEXT = "Orvaneエージェントサービスが開始しました。"
STARTED_EVENT_ID = 0x4000044C

SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\ORVSVC"
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ORVSVC"
# The product installer creates these; the agent itself never does.
AGENT_KEYS = [
    r"HKLM\SOFTWARE\ORVANE\ORVSVC\Status",
    r"HKLM\SOFTWARE\ORVANE\ORVSVC\Common",
    r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS",
]

# Starting is quick, but Run waits up to 30 s for a network before it looks
# at stop requests, so a stop may legitimately take that long.
START_TIMEOUT = 30
STOP_TIMEOUT = 45

bed = None
exe_path = None


def setUpModule():
    global bed, exe_path
    bin_dir = os.environ.get("ORVSVC_BIN_DIR")
    if not bin_dir:
        raise unittest.SkipTest("ORVSVC_BIN_DIR is not set")
    bin_dir = Path(bin_dir)
    for program in ("ORVSVC.exe", "svcctl.exe"):
        if not (bin_dir / program).is_file():
            raise RuntimeError("%s not found in ORVSVC_BIN_DIR=%s" % (program, bin_dir))
    if not os.access(wb.WINE64, os.X_OK):
        raise RuntimeError("wine64 not found at %s" % wb.WINE64)
    build_dir = os.environ.get("ORVSVC_BUILD_DIR") or str(bin_dir.parent)

    wb.install_sigterm_cleanup()
    bed = wb.WineBed(build_dir, name="lifecycle", bin_dir=bin_dir,
                     keep_prefix=bool(os.environ.get("WINEBED_KEEP")))
    bed.start()
    try:
        exe_path = bed.copy_in(bin_dir / "ORVSVC.exe", wb.AGENT_DIR)
        bed.reg_import({key: {} for key in AGENT_KEYS})
    except BaseException:
        bed.close()
        raise


def tearDownModule():
    if bed is not None:
        bed.close()


def make_uninstalled():
    """Stops and deletes the service and its event source with Wine's tools,
    independent of the code under test."""
    status = bed.query(SERVICE)
    if status is not None:
        if status.state != wb.SERVICE_STOPPED:
            bed.sc("stop", SERVICE)
            bed.wait_state(SERVICE, wb.SERVICE_STOPPED, STOP_TIMEOUT)
        bed.sc("delete", SERVICE)
        bed.wait_gone(SERVICE)
    bed.reg_delete(EVENT_SOURCE_KEY)


def install():
    result = bed.agent("-install")
    if bed.query(SERVICE) is None:
        raise AssertionError("-install did not create the service; it printed %r" % result.out)
    return result


class LifecycleTestCase(unittest.TestCase):
    # Cleaning before (not after) each test is enough: the prefix is thrown
    # away at the end, and it halves the wine calls.
    def setUp(self):
        make_uninstalled()


class InstallTest(LifecycleTestCase):
    def test_install_creates_automatic_own_process_service_with_japanese_names(self):
        result = bed.agent("-install")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.out, "")

        config = bed.config(SERVICE)
        self.assertEqual(config["type"], 16)
        self.assertEqual(config["start"], 2)
        self.assertEqual(config["error"], 1)
        self.assertEqual(config["account"], "LocalSystem")
        self.assertEqual(config["binary"], exe_path)
        self.assertEqual(config["display"], DISPLAY_NAME)
        self.assertEqual(config["description"], DESCRIPTION)

        # The stored registry text, independent of what the SCM API converts.
        values = bed.reg_values(SERVICE_KEY)
        self.assertIsNotNone(values, "service key missing")
        self.assertEqual(values["DisplayName"], wb.RegValue(wb.REG_SZ, DISPLAY_NAME))
        self.assertEqual(values["Description"], wb.RegValue(wb.REG_SZ, DESCRIPTION))

    def test_install_registers_application_event_source(self):
        install()
        values = bed.reg_values(EVENT_SOURCE_KEY)
        self.assertIsNotNone(values, "event source key missing")
        message_file = values.get("EventMessageFile")
        self.assertIsNotNone(message_file, "EventMessageFile missing")
        self.assertIn(message_file.type, (wb.REG_SZ, wb.REG_EXPAND_SZ))
        self.assertEqual(message_file.data, exe_path)
        self.assertEqual(values.get("TypesSupported"), wb.RegValue(wb.REG_DWORD, 7))

    def test_second_install_prints_nothing_and_leaves_first_installation_alone(self):
        install()
        # Change what an install writes, so rewriting the same values again
        # cannot pass unnoticed.
        bed.sc("description", SERVICE, "changed by test")
        bed.reg_add(EVENT_SOURCE_KEY, "TypesSupported", "REG_DWORD", 3)
        service_before = bed.reg_values(SERVICE_KEY)
        source_before = bed.reg_values(EVENT_SOURCE_KEY)

        result = bed.agent("-install")

        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(bed.config(SERVICE)["description"], "changed by test")
        self.assertEqual(bed.reg_values(SERVICE_KEY), service_before)
        self.assertEqual(bed.reg_values(EVENT_SOURCE_KEY), source_before)

    def test_install_switch_is_found_anywhere_in_the_command_line_in_any_case(self):
        for args in (["/x-INSTALL"], ["-Install"], ["-remove", "-install"]):
            with self.subTest(args=args):
                make_uninstalled()
                result = bed.agent(*args)
                self.assertEqual(result.returncode, 0)
                self.assertIsNotNone(bed.query(SERVICE), "%s did not install" % args)
                self.assertEqual(bed.config(SERVICE)["display"], DISPLAY_NAME)

    def test_remove_deletes_service_and_event_source(self):
        install()
        result = bed.agent("-remove")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.out, "")
        bed.wait_gone(SERVICE)
        with self.assertRaises(wb.SvcctlError) as raised:
            bed.config(SERVICE)
        self.assertEqual(raised.exception.win32_error, wb.ERROR_SERVICE_DOES_NOT_EXIST)
        self.assertIsNone(bed.reg_values(EVENT_SOURCE_KEY), "event source key left behind")
        self.assertIsNone(bed.reg_values(SERVICE_KEY), "service key left behind")

    def test_remove_without_service_reports_the_failing_call_and_exits_0(self):
        result = bed.agent("-remove")
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.out.startswith("OpenService failed: "), repr(result.out))


class RunTest(LifecycleTestCase):
    def setUp(self):
        super().setUp()
        install()
        self.mark = bed.event_mark()

    def start(self):
        status = bed.start_service(SERVICE, START_TIMEOUT)
        self.assertEqual(status.state, wb.SERVICE_RUNNING)
        return status

    def test_start_reaches_running_and_logs_the_start_entry(self):
        status = self.start()
        self.assertTrue(status.accepted & 0x1, "running service does not accept stop")

        entry = bed.wait_event(
            lambda e: e.event_id == STARTED_EVENT_ID or STARTED_TEXT in e.strings,
            timeout=15, since=self.mark)
        self.assertEqual(entry.event_id, STARTED_EVENT_ID)
        self.assertEqual(entry.type_name, "information")
        self.assertEqual(entry.source, SERVICE)
        self.assertEqual(entry.strings, [STARTED_TEXT])

        # Fatal framework errors are logged under the display name as source.
        fatal = [e for e in bed.events_since(self.mark) if e.source == DISPLAY_NAME]
        self.assertEqual(fatal, [])
        self.assertEqual(bed.query(SERVICE).state, wb.SERVICE_RUNNING)

    def test_stop_control_ends_the_service_with_exit_code_0(self):
        self.start()
        bed.control(SERVICE, 1)
        final = bed.wait_state(SERVICE, wb.SERVICE_STOPPED, STOP_TIMEOUT)
        self.assertEqual((final.exit, final.specific, final.accepted), (0, 0, 0))

    def test_sc_stop_ends_the_service_with_exit_code_0(self):
        self.start()
        final = bed.stop_service(SERVICE, STOP_TIMEOUT)
        self.assertEqual((final.exit, final.specific, final.accepted), (0, 0, 0))

    def test_service_can_be_started_again_after_a_stop(self):
        self.start()
        bed.stop_service(SERVICE, STOP_TIMEOUT)
        mark = bed.event_mark()
        self.start()
        bed.wait_event(lambda e: e.event_id == STARTED_EVENT_ID, timeout=15, since=mark)


DEFAULT_DEFINITION = (b"\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config>\r\n"
                      b"  <ver>1.00</ver>\r\n</config>")


class AgentFilesTest(LifecycleTestCase):
    """What the running agent makes in its folder, and what it says about a bad definition file."""

    def setUp(self):
        super().setUp()
        install()
        self.pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
        self.definition = bed.host_path(wb.AGENT_DIR + "\\ORVCONFIG.xml")
        for path in (self.definition, self.pool):
            if path.is_dir():
                path.rmdir()
            elif path.exists():
                path.unlink()

    def run_once(self):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == STARTED_EVENT_ID, timeout=15, since=mark)
        # The files are made right after the start entry; the stop waits for that to finish.
        bed.stop_service(SERVICE, STOP_TIMEOUT)
        return bed.events_since(mark)

    def test_start_creates_the_pool_and_the_default_definition_file(self):
        events = self.run_once()
        self.assertTrue(self.pool.is_dir())
        self.assertEqual(self.definition.read_bytes(), DEFAULT_DEFINITION)
        self.assertEqual([e for e in events if e.type_name == "error"], [])

    def test_a_malformed_definition_file_is_reported_and_kept(self):
        self.definition.write_bytes(b"\xef\xbb\xbf<config><ver>1.00</ver><addevent>")
        events = self.run_once()
        errors = [(e.event_id, e.strings) for e in events if e.type_name == "error"]
        self.assertEqual(errors, [(0xC0000517, ["イベント定義ファイルの構成が異常です。"])])
        self.assertTrue(self.definition.read_bytes().endswith(b"<addevent>"))

    def test_a_definition_file_that_cannot_be_made_is_reported_twice(self):
        self.definition.mkdir()  # a folder in its place: neither writable nor readable as a file
        try:
            events = self.run_once()
        finally:
            self.definition.rmdir()
        ids = [e.event_id for e in events if e.type_name == "error"]
        self.assertEqual(ids, [0xC0000515, 0xC0000516])


STATUS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\Status"
DEVICE_ID = "0102030405060708090a0b0c0d0e0f10"


def message_files(prefix):
    """The pool's message files of one kind, parsed strictly, oldest number first."""
    pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
    found = []
    for path in sorted(pool.glob(prefix + "[[]*].json"), key=lambda p: int(p.name[3:-6], 16)):
        data = path.read_bytes()
        if not data.startswith(b"\xef\xbb\xbf"):
            raise AssertionError("%s has no byte order mark" % path.name)
        found.append(json.loads(data[3:].decode("utf-8")))
    return found


def wait_for(condition, timeout=30.0):
    """Polls `condition` until it gives something. The agent holds a message file exclusively
    while writing it, which the host side of Wine does not see: a file caught half-written
    counts as not there yet."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        try:
            value = condition()
            if value:
                return value
        except (AssertionError, ValueError) as error:
            last_error = error
        time.sleep(0.1)
    raise AssertionError("condition not met within %.0f s (%s)" % (timeout, last_error))


def closed_loopback_port():
    """A loopback port nothing listens on: a proxy there refuses every connection."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class ControlsTest(LifecycleTestCase):
    """The registered agent answers the settings program's controls with messages and states.
    Its proxy refuses every connection (nothing leaves the loopback interface), so the
    registration request fails and it monitors in state 4, keeping its messages in the pool."""

    def setUp(self):
        super().setUp()
        install()
        pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
        for path in pool.glob("*.json") if pool.is_dir() else []:
            path.unlink()
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "ProxyEnable", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "ProxyServer", "REG_SZ", "127.0.0.1")
        bed.reg_add(STATUS_KEY, "ProxyPort", "REG_DWORD", closed_loopback_port())

    def tearDown(self):
        bed.reg_delete(STATUS_KEY, "DEVICEID")

    def status_value(self, name):
        value = bed.reg_values(STATUS_KEY).get(name)
        return None if value is None else value.data

    def start_monitoring(self):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == 0x4000044F, timeout=30, since=mark)

    def test_test_controls_write_event_and_status_messages(self):
        self.start_monitoring()
        bed.control(SERVICE, 128)
        events = wait_for(lambda: message_files("RE"))
        self.assertEqual((events[0]["act_id"], events[0]["act_para"], events[0]["msg"]),
                         (9010, "テストメッセージ", "テスト通知"))
        statuses = wait_for(lambda: message_files("RL"))
        self.assertEqual(statuses[0]["sts_type"], 1)
        bed.control(SERVICE, 129)
        statuses = wait_for(lambda: len(message_files("RL")) >= 2 and message_files("RL"))
        self.assertEqual(statuses[1]["sts_type"], 2)
        bed.stop_service(SERVICE, STOP_TIMEOUT)

    def test_monitoring_stops_and_resumes_on_request(self):
        self.start_monitoring()
        mark = bed.event_mark()
        bed.control(SERVICE, 132)
        bed.wait_event(lambda e: e.event_id == 0x4000044E, timeout=30, since=mark)
        self.assertEqual(self.status_value("ServiceStatus"), 3)
        mark = bed.event_mark()
        bed.control(SERVICE, 131)
        bed.wait_event(lambda e: e.event_id == 0x4000044F, timeout=30, since=mark)
        self.assertEqual(self.status_value("ServiceStatus"), 2)
        bed.stop_service(SERVICE, STOP_TIMEOUT)

    def test_the_power_manager_handshake_reports_the_sleep(self):
        self.start_monitoring()
        # The stand-in power manager announces a hibernation and waits for the agent's answer.
        answer = bed.svcctl("pipe", "svcpowmgr\\Reqeust", "SVCPOWMGR_Hibernate", timeout=60)
        self.assertEqual((answer.returncode, answer.out.strip()), (0, "SVCPOWMGR_Hibernate"), answer.err)
        events = wait_for(lambda: message_files("RE"))
        self.assertEqual(events[0]["act_id"], 1040)
        statuses = wait_for(lambda: message_files("RL"))
        self.assertEqual((statuses[0]["sts_type"], statuses[0]["pow_sts"]), (1, 200))
        bed.stop_service(SERVICE, STOP_TIMEOUT)

    def test_the_initialisation_event_is_sent_once_across_starts(self):
        bed.reg_delete(STATUS_KEY, "InitEvent")
        for _ in range(3):
            self.start_monitoring()
            bed.stop_service(SERVICE, STOP_TIMEOUT)
        self.assertEqual([e["act_id"] for e in wait_for(lambda: message_files("RE"))], [5060])
        self.assertEqual(self.status_value("InitEvent"), 1)


SOURCE_ROOT = Path(__file__).resolve().parents[3]
SEVERITY_BITS = {"Success": 0x0, "Informational": 0x1, "Warning": 0x2, "Error": 0x3}


def message_table_ids():
    """The event ids the message table source declares, as full 32-bit ids."""
    ids = []
    message_id = None
    for line in (SOURCE_ROOT / "src" / "service" / "agent_messages.mc").read_text().splitlines():
        if line.startswith("MessageId="):
            message_id = int(line.split("=", 1)[1], 0)
        elif line.startswith("Severity=") and message_id is not None:
            ids.append((SEVERITY_BITS[line.split("=", 1)[1]] << 30) | message_id)
            message_id = None
    return ids


class ResourcesTest(unittest.TestCase):
    """Event Viewer reads the agent's texts through its message table; Explorer shows its
    version. Wine displays neither, so the compiled resources are read back directly."""

    def test_message_table_holds_every_event_id_as_its_insertion_string(self):
        resinfo = bed.copy_in(Path(os.environ["ORVSVC_BIN_DIR"]) / "resinfo.exe", wb.AGENT_DIR)
        ids = message_table_ids()
        self.assertIn(0x4000044C, ids)
        self.assertIn(0xC000052B, ids)
        result = bed.run([resinfo, "messages", exe_path] + ["0x%08X" % i for i in ids])
        self.assertEqual(result.returncode, 0, result.out)
        lines = result.out.splitlines()
        self.assertEqual(lines, ["0x%08X\t%%1" % i for i in ids])

    def test_version_resource_carries_the_product_version(self):
        resinfo = bed.copy_in(Path(os.environ["ORVSVC_BIN_DIR"]) / "resinfo.exe", wb.AGENT_DIR)
        cmake = (SOURCE_ROOT / "CMakeLists.txt").read_text()
        version = cmake.split("project(ORVSVC VERSION ", 1)[1].split()[0]
        result = bed.run([resinfo, "version", exe_path])
        self.assertEqual((result.returncode, result.out.strip()), (0, version))


if __name__ == "__main__":
    unittest.main()
