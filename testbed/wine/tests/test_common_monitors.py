"""Wine tier: the real ORVSVC.exe watching the machine it runs on.

The agent is registered and monitors with a check interval of two seconds; no uploader is
installed, so every message it writes stays in the pool where the tests read it. Covered: a
stored host name and MAC list that differ from Wine's give 1070 and 4140 at the start of
monitoring; a program written under the uninstall key while the agent runs gives 1140 with
the exact text, and removing it gives 1150; a Windows Update policy written while it runs
gives 1110 at the next check that goes with a status message; the daily update search, which
Wine cannot do, logs its failure once and records when it ran; status messages carry what
Wine's performance counters give and parse; a stop during monitoring ends every watcher and
the service within its wait hint.

Every request goes through the test cloud as the agent's proxy: nothing leaves the loopback
interface. Needs ORVSVC_BIN_DIR holding ORVSVC.exe and svcctl.exe.
"""

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

COMMON_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\Common"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
PROGRAM_KEY = UNINSTALL_KEY + r"\{0E1D2C3B-ORV-TEST}"
POLICY_KEY = r"HKLM\SOFTWARE\Policies\Microsoft\Windows\WindowsUpdate\AU"
UPDATE_SEARCH_FAILED = 0xC000051E
TEST_STATUS = 129
START_TIMEOUT = 40
STOP_HINT = 30  # the wait hint the agent's stop-pending status gives, in seconds

bed = None
cloud = None


def setUpModule():
    global bed, cloud
    bed = wb.module_bed("common", {"ORVSVC.exe": wb.AGENT_DIR})
    try:
        cloud = TestCloud()
        cloud.start()
        bed.prepare_agent(cloud.port)
        cloud.add_device(DEVICE_TEXT)
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "CheckInterval", "REG_DWORD", 2)
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


def events_in_pool(prefix="RE"):
    return bed.pool_messages(prefix)


def wait_for_event(act_id, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        matching = [e for e in events_in_pool() if e["act_id"] == act_id]
        if matching:
            return matching
        time.sleep(0.2)
    raise AssertionError("no event %d in the pool within %.0f s: %r" %
                         (act_id, timeout, [e["act_id"] for e in events_in_pool()]))


class CommonMonitorsTest(unittest.TestCase):
    def setUp(self):
        bed.clear_pool()
        self.addCleanup(self.stop_service)

    def stop_service(self):
        status = bed.query(SERVICE)
        if status is not None and status.state != wb.SERVICE_STOPPED:
            bed.stop_service(SERVICE, STOP_HINT + 15)

    def start_agent(self):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == MONITORING, timeout=START_TIMEOUT, since=mark)

    def test_a_renamed_host_and_an_exchanged_board_are_reported_at_the_start_of_monitoring(self):
        bed.reg_import({COMMON_KEY: {"HostName": "OLD-NAS", "MacAddress": ["00:00:5E:00:53:01"]}})
        self.start_agent()
        name = bed.reg_values(COMMON_KEY)["HostName"].data
        renamed = wait_for_event(1070)
        self.assertEqual([(e["act_para"], e["msg"]) for e in renamed],
                         [("OLD-NAS,%s" % name, "ホスト名が「OLD-NAS」から 「%s」へ変更されました。" % name)])
        exchanged = wait_for_event(4140)
        self.assertEqual([e["msg"] for e in exchanged], ["ベアボーン交換を検出しました。"])
        self.assertNotEqual(bed.reg_values(COMMON_KEY)["MacAddress"].data, ["00:00:5E:00:53:01"])

    def test_a_program_installed_and_removed_while_monitoring_gives_1140_then_1150(self):
        bed.reg_delete(PROGRAM_KEY)
        self.start_agent()
        time.sleep(1)  # the software watcher reads its lists once it runs
        bed.reg_import({PROGRAM_KEY: {"DisplayName": "オルヴェーン テスト", "DisplayVersion": "3.2.1"}})
        installed = wait_for_event(1140)
        self.assertEqual([(e["act_para"], e["msg"], e["act_sts"], e["act_trg"]) for e in installed],
                         [("オルヴェーン テスト,3.2.1", "「オルヴェーン テスト(3.2.1)」がインストールされました。", None, None)])
        bed.reg_delete(PROGRAM_KEY)
        removed = wait_for_event(1150)
        self.assertEqual([e["msg"] for e in removed], ["「オルヴェーン テスト(3.2.1)」がアンインストールされました。"])

    def test_a_policy_written_while_monitoring_gives_1110_with_the_next_status(self):
        bed.reg_delete(POLICY_KEY)
        self.start_agent()
        self.assertEqual(bed.reg_values(COMMON_KEY)["NoAutoUpdate"].data, 25, "no policy: recorded as 25")
        bed.reg_import({POLICY_KEY: {"NoAutoUpdate": 0, "AUOptions": 4}})
        bed.control(SERVICE, TEST_STATUS)
        changed = wait_for_event(1110)
        self.assertEqual([(e["act_para"], e["msg"]) for e in changed],
                         [("4", "Windows Updateの 設定が変更されました(4)。")])
        bed.reg_delete(POLICY_KEY)

    def test_status_messages_carry_what_wines_counters_give_and_parse(self):
        self.start_agent()
        bed.control(SERVICE, TEST_STATUS)
        deadline = time.monotonic() + 30
        while not events_in_pool("RL") and time.monotonic() < deadline:
            time.sleep(0.2)
        statuses = events_in_pool("RL")
        self.assertTrue(statuses, "no status message in the pool")
        for status in statuses:
            # Wine adds no counter for every instance, so there is no "_Total" to show (null);
            # the memory load reads 0 when its counter is refused.
            self.assertTrue(status["cpu_load"] is None or isinstance(status["cpu_load"], float), status["cpu_load"])
            self.assertIsInstance(status["mem_load"], float)
            self.assertIsInstance(status["lo_cnt"], int)
            # Wine's HID devices are not the UPS maker's (VID_845E), and its event log cannot be
            # queried: the UPS is absent and no Windows Server Backup result is known.
            self.assertEqual(status["ups"], [])
            self.assertEqual(status["bkup"], [])

    def test_the_daily_search_wine_cannot_do_is_logged_once_and_recorded_and_a_stop_ends_everything(self):
        bed.reg_delete(COMMON_KEY, "WinUpdateLastCheck")
        mark = bed.event_mark()
        self.start_agent()
        # The update watcher looks a minute after monitoring starts.
        entry = bed.wait_event(lambda e: e.event_id == UPDATE_SEARCH_FAILED, timeout=90, since=mark)
        self.assertEqual(entry.text, "WindowsUpdate情報の取得に失敗しました。")
        time.sleep(2)
        last_check = bed.reg_values(COMMON_KEY)["WinUpdateLastCheck"].data
        self.assertEqual(len(last_check), 16)
        self.assertEqual(len([e for e in bed.events_since(mark) if e.event_id == UPDATE_SEARCH_FAILED]), 1)

        started = time.monotonic()
        bed.stop_service(SERVICE, STOP_HINT)
        self.assertLess(time.monotonic() - started, STOP_HINT)


if __name__ == "__main__":
    unittest.main()
