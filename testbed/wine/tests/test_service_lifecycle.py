"""Wine tier: the real ORVSVC.exe installs, runs, stops and removes itself as a Windows service
through the real control manager, with the texts and registry entries a user would see; it
answers the power manager's handshake; its compiled resources hold what Event Viewer and
Explorer read. Each test first returns the prefix to "not installed" with Wine's own tools.
"""

import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402
from winebed import SERVICE, START_TIMEOUT, STOP_TIMEOUT  # noqa: E402

DISPLAY_NAME = "Orvaneエージェントサービス"
DESCRIPTION = "Orvaneサービスへ情報を送信します。"
STARTED_TEXT = "Orvaneエージェントサービスが開始しました。"
STARTED_EVENT_ID = 0x4000044C

SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\ORVSVC"
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ORVSVC"

agent = wb.AgentModule("lifecycle", tools=("resinfo.exe",), install=False)
setUpModule, tearDownModule = agent.set_up, agent.tear_down


class LifecycleTest(unittest.TestCase):
    # Cleaning before (not after) each test is enough: the prefix is thrown away at the end.
    def setUp(self):
        self.bed = bed = agent.bed
        if bed.query(SERVICE) is not None:
            agent.stop()
            bed.sc("delete", SERVICE)
            bed.wait_gone(SERVICE)
        bed.reg_delete(EVENT_SOURCE_KEY)

    def test_install_creates_the_service_and_event_source_and_remove_deletes_them(self):
        result = self.bed.agent("-install")
        self.assertEqual((result.returncode, result.out), (0, ""))
        self.assertEqual(self.bed.config(SERVICE), {
            "type": 16, "start": 2, "error": 1, "account": "LocalSystem", "binary": wb.AGENT_EXE,
            "display": DISPLAY_NAME, "description": DESCRIPTION})
        # The stored registry texts, independent of what the control manager's API converts.
        values = self.bed.reg_values(SERVICE_KEY)
        self.assertEqual((values["DisplayName"], values["Description"]),
                         (wb.RegValue(wb.REG_SZ, DISPLAY_NAME), wb.RegValue(wb.REG_SZ, DESCRIPTION)))
        source = self.bed.reg_values(EVENT_SOURCE_KEY)
        self.assertIn(source["EventMessageFile"], (wb.RegValue(wb.REG_SZ, wb.AGENT_EXE), wb.RegValue(wb.REG_EXPAND_SZ, wb.AGENT_EXE)))
        self.assertEqual(source["TypesSupported"], wb.RegValue(wb.REG_DWORD, 7))
        # A second install says nothing and leaves the first alone.
        self.assertEqual((self.bed.agent("-install").out, self.bed.config(SERVICE)["display"]), ("", DISPLAY_NAME))

        result = self.bed.agent("-remove")
        self.assertEqual((result.returncode, result.out), (0, ""))
        self.bed.wait_gone(SERVICE)
        self.assertEqual((self.bed.reg_values(EVENT_SOURCE_KEY), self.bed.reg_values(SERVICE_KEY)), (None, None))
        # Without the service: the failing call is reported, and the exit is still 0.
        result = self.bed.agent("-remove")
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.out.startswith("OpenService failed: "), repr(result.out))

    def test_each_start_logs_the_start_entry_and_a_stop_by_control_or_sc_ends_with_exit_code_0(self):
        self.bed.agent("-install")
        for stop in (lambda: self.bed.control(SERVICE, 1), lambda: self.bed.sc("stop", SERVICE)):
            mark = self.bed.event_mark()
            self.bed.start_service(SERVICE, START_TIMEOUT)
            entry = self.bed.wait_event(lambda e: e.event_id == STARTED_EVENT_ID or STARTED_TEXT in e.strings,
                                        timeout=15, since=mark)
            self.assertEqual((entry.event_id, entry.type_name, entry.source, entry.strings),
                             (STARTED_EVENT_ID, "information", SERVICE, [STARTED_TEXT]))
            # Fatal framework errors are logged under the display name as source.
            self.assertEqual([e for e in self.bed.events_since(mark) if e.source == DISPLAY_NAME], [])
            stop()
            final = self.bed.wait_state(SERVICE, wb.SERVICE_STOPPED, STOP_TIMEOUT)
            self.assertEqual((final.exit, final.specific, final.accepted), (0, 0, 0))

    def test_the_power_manager_handshake_reports_the_sleep(self):
        # With its proxy refusing every connection the agent monitors in state 4 and keeps its
        # messages in the pool.
        self.bed.agent("-install")
        agent.clear_pool()
        self.bed.reg_import({wb.STATUS_KEY: {"ProxyPort": wb.closed_loopback_port()}})
        self.addCleanup(lambda: self.bed.reg_import({wb.STATUS_KEY: {"ProxyPort": agent.cloud.port}}))
        agent.start()
        # The stand-in power manager announces a hibernation and waits for the agent's answer.
        answer = self.bed.svcctl("pipe", "svcpowmgr\\Reqeust", "SVCPOWMGR_Hibernate", timeout=60)
        self.assertEqual((answer.returncode, answer.out.strip()), (0, "SVCPOWMGR_Hibernate"), answer.err)
        self.assertEqual(agent.wait_for(lambda: agent.messages("RE"))[0]["act_id"], 1040)
        status = agent.wait_for(lambda: agent.messages("RL"))[0]
        self.assertEqual((status["sts_type"], status["pow_sts"]), (1, 200))


SOURCE_ROOT = Path(__file__).resolve().parents[3]
RESINFO = wb.TOOLS_DIR + "\\resinfo.exe"


def message_table_ids():
    """The event ids the message table source declares, as full 32-bit ids."""
    text = (SOURCE_ROOT / "src" / "service" / "agent_messages.mc").read_text()
    return [["Success", "Informational", "Warning", "Error"].index(severity) << 30 | int(number, 0)
            for number, severity in re.findall(r"^MessageId=(\S+)\s+Severity=(\w+)", text, re.M)]


class ResourcesTest(unittest.TestCase):
    # Event Viewer reads the agent's texts through its message table and Explorer shows its
    # version; Wine displays neither, so the compiled resources are read back directly.

    def test_the_message_table_holds_every_event_id_and_the_version_resource_the_product_version(self):
        ids = message_table_ids()
        self.assertTrue({0x4000044C, 0xC000052B} <= set(ids), ids)
        result = agent.bed.run([RESINFO, "messages", wb.AGENT_EXE] + ["0x%08X" % i for i in ids], check=True)
        self.assertEqual(result.out.splitlines(), ["0x%08X\t%%1" % i for i in ids])
        version = (SOURCE_ROOT / "CMakeLists.txt").read_text().split("project(ORVSVC VERSION ", 1)[1].split()[0]
        self.assertEqual(agent.bed.run([RESINFO, "version", wb.AGENT_EXE], check=True).out.strip(), version)


if __name__ == "__main__":
    unittest.main()
