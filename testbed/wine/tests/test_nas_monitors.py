"""Wine tier: the real ORVSVC.exe monitoring a simulated appliance through the registry.

The appliance is a four-bay Meridex appliance of the LCD series on Windows Server 2019, as the
maker's model key tells it; its front panel publishes the fan speeds and the processor
temperature as registry values, its backup product keeps its tasks under its own key and its
companion services their settings under the product root. The agent is registered, checks
every two seconds, and has no uploader, so its messages stay in the pool where the tests read
them. Covered: the three fan and temperature conditions open and close with exact events and
show in the status message, and a restart while one is open reports nothing new; backup task
names with brackets, quotes and Japanese survive a restart, and deleting a failed task closes
its failure; the storage pass, with no Virtual Disk Service and no SMART answers under Wine,
logs an unreadable layout on every pass, shows four empty bays and raises no storage event;
a changed mail setting, a notification service's start type changed through the control
manager and a changed power schedule each give one 5040 or 5030.

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

NAS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS"
FRONT_PANEL = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\FrontLcd\Config"
BACKUP_PRODUCT = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\VaultBackup"
PRODUCT_ROOT = r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\Applications\UnitDeck"
APPLIANCE_FLAGS = 0x100000 | 0x2000 | 0x8
TEST_STATUS = 129
START_TIMEOUT = 40
# A watcher caught in a slow system call (WMI under a loaded Wine) is waited for up to a minute.
STOP_TIMEOUT = 75
DISK_INFO_FAILED = 0xC000051B
VOLUME_INFO_FAILED = 0xC000051C
# Bays, disks, volumes and RAID: none may be raised from what Wine cannot answer.
STORAGE_EVENT_IDS = {4010, 4020, 4050, 4120, 4130, 4150, 3010, 3020, 3030, 5050}

bed = None
cloud = None


def setUpModule():
    global bed, cloud
    bed = wb.module_bed("nas", {"ORVSVC.exe": wb.AGENT_DIR})
    try:
        cloud = TestCloud()
        cloud.start()
        bed.prepare_agent(cloud.port)
        cloud.add_device(DEVICE_TEXT)
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "CheckInterval", "REG_DWORD", 2)
        bed.reg_import({r"HKLM\SOFTWARE\MERIDEX\NAS": {},
                        r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\UnitDeck": {"ModelInfo": APPLIANCE_FLAGS},
                        FRONT_PANEL: {"CpuFan": 2600, "CpuTemp": 45, "SysFan": 1800},
                        BACKUP_PRODUCT: {},
                        PRODUCT_ROOT + r"\SVCMAIL": {"host": "smtp.example.jp", "mail1": "owner@example.jp"},
                        PRODUCT_ROOT + r"\SVCPOWMGR": {"ScheduleEnable": 0}})
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


def messages(prefix):
    return bed.pool_messages(prefix)


def wait_for(condition, what, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("%s not seen within %.0f s: events %r" %
                         (what, timeout, [(e["act_id"], e["act_sts"]) for e in messages("RE")]))


def events(act_id, act_sts=None):
    return [e for e in messages("RE") if e["act_id"] == act_id and (act_sts is None or e["act_sts"] == act_sts)]


class NasMonitorsTest(unittest.TestCase):
    def setUp(self):
        bed.clear_pool()
        self.addCleanup(self.stop_service)

    def stop_service(self):
        status = bed.query(SERVICE)
        if status is not None and status.state != wb.SERVICE_STOPPED:
            bed.stop_service(SERVICE, STOP_TIMEOUT)

    def start_agent(self):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == MONITORING, timeout=START_TIMEOUT, since=mark)

    def test_fan_and_temperature_conditions_open_close_and_survive_a_restart(self):
        self.start_agent()
        bed.reg_import({FRONT_PANEL: {"CpuFan": 1500, "CpuTemp": 80, "SysFan": 500}})
        wait_for(lambda: events(4080) and events(4060) and events(4070), "the three conditions")
        opened = [(e["act_id"], e["act_sts"], e["act_trg"], e["act_para"], e["msg"]) for e in messages("RE")]
        self.assertEqual(sorted(opened), sorted([
            (4080, 1, 0, "0,1500", "CPUファンの回転数に異常を検出しました(1500回転)。"),
            (4060, 1, 0, "0,80,70", "CPUの温度異常を検出しました(80℃)。"),
            (4070, 1, 0, "0,500", "ケースファンの回転数に異常を検出しました(500回転)。")]))
        status = wait_for(lambda: [s for s in messages("RL") if s["cpu"][0]["sts"]], "a status with the open conditions")[-1]
        self.assertEqual(sorted(s["act_id"] for s in status["cpu"][0]["sts"]), [4060, 4080])
        self.assertEqual([s["act_id"] for s in status["case_fan"][0]["sts"]], [4070])

        bed.stop_service(SERVICE, STOP_TIMEOUT)
        bed.clear_pool()
        self.start_agent()
        time.sleep(5)  # two rounds at least
        self.assertEqual(events(4080, 1) + events(4060, 1) + events(4070, 1), [], "nothing new after a restart")

        bed.reg_import({FRONT_PANEL: {"CpuFan": 2101, "CpuTemp": 64, "SysFan": 1101}})
        wait_for(lambda: events(4080, 3) and events(4060, 3) and events(4070, 3), "the three recoveries")
        closed = sorted((e["act_id"], e["act_para"], e["msg"]) for e in events(4080, 3) + events(4060, 3) + events(4070, 3))
        self.assertEqual(closed, [(4060, "0,64,70", "CPUの温度が回復しました。"),
                                  (4070, "0,1101", "ケースファンの回転数が回復しました。"),
                                  (4080, "0,2101", "CPUファンの回転数が回復しました。")])

    def test_adversarial_task_names_survive_a_restart_and_a_deleted_failed_task_closes_its_failure(self):
        name = '週次 [NAS] "full"'
        bed.reg_import({BACKUP_PRODUCT + r"\{T}:4": {"Name": name},
                        # A failure left open by an earlier run of the agent.
                        NAS_KEY: {"VaultBackupStatusTable": ["[2010][1][1004][%s][バックアップに失敗しました。][%s][0]"
                                                            % (name.replace("]", "］"), name.replace("]", "］"))]}})
        self.start_agent()
        time.sleep(3)
        rows = bed.reg_values(NAS_KEY)["VaultBackupTaskInfo"].data
        self.assertEqual(rows, ['[週次 [NAS］ "full"][{T}:4][0][][]'])
        bed.stop_service(SERVICE, STOP_TIMEOUT)
        self.start_agent()
        time.sleep(3)
        self.assertEqual(bed.reg_values(NAS_KEY)["VaultBackupTaskInfo"].data, rows, "unchanged by a restart")
        self.assertEqual(events(2010), [], "the same task: no rename, no deletion")

        bed.reg_delete(BACKUP_PRODUCT + r"\{T}:4")
        closed = wait_for(lambda: events(2010, 3), "the failure closed")
        self.assertEqual([(e["act_trg"], e["msg"]) for e in closed],
                         [(1004, "バックアップタスクが削除されました(週次 [NAS］ \"full\")")])

    @staticmethod
    def companion_service(start):
        """The disk companion service, made anew through the control manager with `start`
        (Wine's sc has no working "config")."""
        bed.sc("delete", "SVCHDDCHK")
        created = bed.sc("create", "SVCHDDCHK", "binPath=", "C:\\windows\\system32\\notepad.exe", "start=", start)
        if created.returncode != 0:
            raise AssertionError("sc create failed: %s%s" % (created.out, created.err))

    def test_companion_settings_changes_give_one_event_each(self):
        self.companion_service("auto")
        self.start_agent()
        bed.reg_add(PRODUCT_ROOT + r"\SVCMAIL", "mail2", "REG_SZ", "admin@example.jp")
        bed.reg_add(PRODUCT_ROOT + r"\SVCMAIL", "mail3", "REG_SZ", "backup@example.jp")
        bed.control(SERVICE, TEST_STATUS)
        wait_for(lambda: events(5040), "5040 for two recipients")
        time.sleep(3)
        self.assertEqual(len(events(5040)), 1)

        bed.clear_pool()
        self.companion_service("demand")
        bed.control(SERVICE, TEST_STATUS)
        wait_for(lambda: events(5040), "5040 for a start type")

        bed.reg_add(PRODUCT_ROOT + r"\SVCPOWMGR", "ScheduleEnable", "REG_DWORD", 1)
        bed.control(SERVICE, TEST_STATUS)
        changed = wait_for(lambda: events(5030), "5030 for the schedule")
        self.assertEqual([e["msg"] for e in changed], ["スケジュール電源管理設定が変更されました。"])
        bed.sc("delete", "SVCHDDCHK")

    def test_the_storage_pass_under_wine_logs_its_unreadable_layout_and_reports_no_condition(self):
        # Wine has no Virtual Disk Service and answers no SMART request: each pass logs the two
        # entries of an unreadable layout, lists the four bays as empty placeholders and never
        # takes them for disks that dropped out.
        mark = bed.event_mark()
        self.start_agent()
        bed.wait_event(lambda e: e.event_id == DISK_INFO_FAILED, timeout=START_TIMEOUT, since=mark)
        bed.wait_event(lambda e: e.event_id == VOLUME_INFO_FAILED, timeout=START_TIMEOUT, since=mark)
        bed.control(SERVICE, TEST_STATUS)
        status = wait_for(lambda: [s for s in messages("RL") if "hd" in s], "a status message")[-1]
        self.assertEqual([d["name"] for d in status["hd"]], ["HDD1", "HDD2", "HDD3", "HDD4"])
        self.assertEqual({d["model"] for d in status["hd"]}, {None})
        self.assertEqual(status["vlm"], [])
        time.sleep(4)  # two more rounds
        storage_events = [e for e in messages("RE") if e["act_id"] in STORAGE_EVENT_IDS]
        self.assertEqual(storage_events, [])
        logged = [e.event_id for e in bed.events_since(mark)]
        self.assertGreaterEqual(logged.count(DISK_INFO_FAILED), 2, "logged on every pass")
        # Wine's log query fails: the RAID mode step finds no record and only fills the missing
        # time with 0, so the first mode change a real log shows later is reported.
        nas = bed.reg_values(NAS_KEY)
        self.assertEqual((nas["RaidChangeLow"].data, nas["RaidChangeHigh"].data), (0, 0))


if __name__ == "__main__":
    unittest.main()
