"""Wine tier: the real ORVSVC.exe against the test cloud, its proxy on 127.0.0.1: messages
written by a control handed to the stand-in "ORVUPLD.exe" with the exact command line and
"config.ini"; the self-update on control 134 (a signed installer in a ZIP archive is unpacked,
checked and started, and the service ends). Needs osslsigncode and openssl on the host.
"""

import base64
import io
import json
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import signing  # noqa: E402
import winebed as wb  # noqa: E402
from winebed import DEVICE_TEXT  # noqa: E402

PREFIX = "v1"
UPDATE_URL = "http://downloads.orvane.example/agent/ORVSetup.zip"
INSTALLER = "C:\\Windows\\Temp\\ORVANE_UPDATE\\ORVSetup\\ORVSetup.exe"

agent = wb.AgentModule("cloud", settings={"WebAPIFilePath": PREFIX}, agent_files=("ORVUPLD.exe", "ORVZIP.exe"))
setUpModule, tearDownModule = agent.set_up, agent.tear_down


def agent_file(name):
    return agent.bed.host_path(wb.AGENT_DIR + "\\" + name)


class CloudTest(wb.AgentTest):
    agent = agent

    def test_messages_written_by_a_control_are_handed_to_the_uploader(self):
        for name in ("ORVUPLD.log", "config.ini"):
            agent_file(name).unlink(missing_ok=True)
        for path in agent_file("ORVUPLD.taken").glob("*"):
            path.unlink()
        agent.start()
        agent.control(128)
        taken = agent.wait_for(lambda: sorted(p.name for p in agent_file("ORVUPLD.taken").glob("R*.json")),
                               "the test event and its status taken by the uploader")
        self.assertTrue(any(n.startswith("RE[") for n in taken) and any(n.startswith("RL[") for n in taken), taken)
        agent.wait_for(lambda: not agent.messages("R"), "the pool emptied by the uploader")
        log = agent_file("ORVUPLD.log").read_text("utf-8").splitlines()
        self.assertEqual(log[0], '"C:\\orvsvc\\ORVUPLD.exe" --poolpath "C:\\orvsvc\\MessagePool" --rcount 6 '
                                 '--rseconds 10 --messagehide --configpath "C:\\orvsvc\\config.ini"')
        raw = agent_file("config.ini").read_bytes()
        self.assertEqual(raw[:3], b"\xef\xbb\xbf")
        config = json.loads(base64.b64decode(raw[3:], validate=True).decode("ascii"))
        self.assertTrue(config["mac_address"])
        self.assertEqual(list(config.items()), [
            ("device_id", DEVICE_TEXT), ("mac_address", config["mac_address"]), ("proxy_host", "127.0.0.1"),
            ("proxy_port", str(agent.cloud.port)), ("proxy_user", ""), ("proxy_password", "")])

    def test_a_signed_agent_update_is_unpacked_verified_and_started_and_the_service_ends(self):
        log = agent.bed.host_path("C:\\orvsvc-installer.log")
        log.unlink(missing_ok=True)
        with tempfile.TemporaryDirectory(prefix="orv-cloud-") as work:
            cert, key = signing.make_certificate("Tavolen Co.,Ltd.", Path(work))
            installer = signing.sign_exe(agent.bed.bin_dir / "installer.exe", Path(work) / "ORVSetup.exe", cert, key)
            package = io.BytesIO()
            with zipfile.ZipFile(package, "w", zipfile.ZIP_STORED) as archive:
                archive.writestr("ORVSetup/ORVSetup.exe", installer.read_bytes())
        agent.cloud.software.agt_ver = "99.0"
        agent.cloud.software.agt_url = UPDATE_URL
        agent.cloud.add_download(UPDATE_URL, package.getvalue())
        mark = agent.start()
        agent.control(134)
        agent.bed.wait_state(wb.SERVICE, wb.SERVICE_STOPPED, wb.STOP_TIMEOUT)
        runs = agent.wait_for(lambda: log.exists() and log.read_text("utf-8").splitlines(), "the installer's run")
        self.assertEqual(runs[0].split("\t")[2], '"%s" /s /v"/qn SILENTNAS=1"' % INSTALLER)
        self.assertEqual(len(agent.entries(0x40000450, mark)), 1)
        self.assertEqual([r.path for r in agent.cloud.requests(route="download")], ["/agent/ORVSetup.zip"])


if __name__ == "__main__":
    unittest.main()
