"""Wine tier: the real ORVSVC.exe watching the machine it runs on, a four-bay Meridex appliance
of the LCD series as the maker's model key tells it, checking every two seconds with no
uploader, so its messages stay in the pool: registry change notification across processes,
Wine's performance counters, and the storage pass without Virtual Disk Service or SMART.
"""

import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

NAS_KEY = r"HKLM\SOFTWARE\ORVANE\ORVSVC\NAS"
PROGRAM_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0E1D2C3B-ORV-TEST}"
DISK_INFO_FAILED = 0xC000051B
VOLUME_INFO_FAILED = 0xC000051C
# Bays, disks, volumes and RAID: none may be raised from what Wine cannot answer.
STORAGE_EVENT_IDS = {4010, 4020, 4050, 4120, 4130, 4150, 3010, 3020, 3030, 5050}

agent = wb.AgentModule("monitors", settings={"CheckInterval": 2}, keys={
    r"HKLM\SOFTWARE\MERIDEX\NAS": {},
    r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\UnitDeck": {"ModelInfo": 0x100000 | 0x2000 | 0x8},
    r"HKLM\SOFTWARE\Wow6432Node\MERIDEX\FrontLcd\Config": {"CpuFan": 2600, "CpuTemp": 45, "SysFan": 1800}})
setUpModule, tearDownModule = agent.set_up, agent.tear_down


class MonitorsTest(wb.AgentTest):
    agent = agent

    def test_a_program_installed_and_removed_while_monitoring_gives_1140_then_1150(self):
        agent.start()
        time.sleep(1)  # the software watcher reads its lists once it runs
        agent.bed.reg_import({PROGRAM_KEY: {"DisplayName": "オルヴェーン テスト", "DisplayVersion": "3.2.1"}})
        installed = agent.wait_for(lambda: agent.events(1140), "1140")
        self.assertEqual([(e["act_para"], e["msg"], e["act_sts"], e["act_trg"]) for e in installed],
                         [("オルヴェーン テスト,3.2.1", "「オルヴェーン テスト(3.2.1)」がインストールされました。", None, None)])
        agent.bed.reg_delete(PROGRAM_KEY)
        removed = agent.wait_for(lambda: agent.events(1150), "1150")
        self.assertEqual([e["msg"] for e in removed], ["「オルヴェーン テスト(3.2.1)」がアンインストールされました。"])

    def test_the_status_carries_wines_counters_and_the_storage_pass_reports_no_condition(self):
        mark = agent.start()
        agent.wait_entry(DISK_INFO_FAILED, mark)
        agent.wait_entry(VOLUME_INFO_FAILED, mark)
        agent.control(129)  # a status message now
        status = agent.wait_for(lambda: [s for s in agent.messages("RL") if "hd" in s], "a status message")[-1]
        # Wine adds no counter for every instance, so there is no "_Total" to show (null); the
        # memory load reads 0 when its counter is refused. Wine's HID devices are not the UPS
        # maker's, and its event log cannot be queried. The layout is unreadable: four empty bays.
        self.assertEqual((type(status["cpu_load"]) in (float, type(None)), type(status["mem_load"]),
                          type(status["lo_cnt"]), status["ups"], status["bkup"], [d["name"] for d in status["hd"]],
                          {d["model"] for d in status["hd"]}, status["vlm"]),
                         (True, float, int, [], [], ["HDD1", "HDD2", "HDD3", "HDD4"], {None}, []), status)
        time.sleep(4)  # two more rounds
        self.assertEqual([e for e in agent.messages("RE") if e["act_id"] in STORAGE_EVENT_IDS], [])
        self.assertGreaterEqual(len(agent.entries(DISK_INFO_FAILED, mark)), 2, "logged on every pass")
        # Wine's log query fails: the RAID mode step finds no record and only fills the missing
        # time with 0, so the first mode change a real log shows later is reported.
        self.assertEqual((agent.status_value("RaidChangeLow", NAS_KEY),
                          agent.status_value("RaidChangeHigh", NAS_KEY)), (0, 0))


if __name__ == "__main__":
    unittest.main()
