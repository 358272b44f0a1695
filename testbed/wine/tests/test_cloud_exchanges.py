"""Wine tier: the real ORVSVC.exe against the test cloud, end to end.

The agent runs as a service in a Wine prefix with "uploader.xml" naming the staging host
and the test cloud as its proxy (127.0.0.1), so every request it makes, every file the
stand-in uploader sends and every download arrive at the test cloud: nothing leaves the
loopback interface. Covered: the registration-data request and what its answers do to the
agent (200, a changed identifier, 401, 500), messages written by controls reaching the cloud
through the stand-in "ORVUPLD.exe" with the exact command line and "config.ini", the
uploader's exit codes in the event log, and the self-update on control 134 (a signed
installer in a ZIP archive is unpacked, checked and started and the service ends; a wrong
publisher is never started; a newer event definition file replaces the local one).

Needs ORVSVC_BIN_DIR with ORVSVC.exe, svcctl.exe, ORVUPLD.exe, ORVZIP.exe and installer.exe,
and osslsigncode and openssl on the host.
"""

import base64
import io
import json
import sys
import tempfile
import time
import unittest
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))
sys.path.insert(0, str(HERE.parents[2] / "cloud"))

import signing  # noqa: E402
import winebed as wb  # noqa: E402
from winebed import DEVICE_ID, DEVICE_TEXT, MONITORING, SERVICE, STATUS_KEY  # noqa: E402
from test_cloud import Answer, TestCloud, error_body  # noqa: E402

PREFIX = "v1"
STAGING = wb.STAGING_API_HOST
UPDATE_URL = "http://downloads.orvane.example/agent/ORVSetup.zip"
INSTALLER = "C:\\Windows\\Temp\\ORVANE_UPDATE\\ORVSetup\\ORVSetup.exe"
START_TIMEOUT = 40
STOP_TIMEOUT = 45

UNREGISTERED = 0x4000044D

bed = None
cloud = None
bin_dir = None
work = None


def setUpModule():
    global bed, cloud, bin_dir, work
    programs = ("ORVSVC.exe", "ORVUPLD.exe", "ORVZIP.exe")
    bed = wb.module_bed("cloud", {program: wb.AGENT_DIR for program in programs})
    bin_dir = bed.bin_dir
    try:
        if not (bin_dir / "installer.exe").is_file():
            raise RuntimeError("installer.exe not found in %s" % bin_dir)
        work = tempfile.TemporaryDirectory(prefix="orv-cloud-")
        cloud = TestCloud()
        cloud.start()
        bed.prepare_agent(cloud.port)
        bed.reg_add(STATUS_KEY, "InitEvent", "REG_DWORD", 1)
        bed.reg_add(STATUS_KEY, "WebAPIFilePath", "REG_SZ", PREFIX)
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
    if work is not None:
        work.cleanup()


def pool_files():
    pool = bed.host_path(wb.AGENT_DIR + "\\MessagePool")
    return sorted(p.name for p in pool.glob("R*.json")) if pool.is_dir() else []


def wait_for(condition, timeout=30.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("%s not met within %.0f s" % (what, timeout))


def signed_installer(publisher):
    """The stand-in installer signed by a self-signed certificate of `publisher`."""
    folder = Path(work.name) / publisher.replace(" ", "_").replace(",", "_")
    cert, key = signing.make_certificate(publisher, folder)
    return signing.sign_exe(bin_dir / "installer.exe", folder / "ORVSetup.exe", cert, key).read_bytes()


def update_package(installer):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_STORED) as archive:
        archive.writestr("ORVSetup/ORVSetup.exe", installer)
    return data.getvalue()


class CloudTestCase(unittest.TestCase):
    def setUp(self):
        cloud.clear_records()
        cloud.clear_scripts()
        cloud.add_device(DEVICE_TEXT)
        bed.reg_add(STATUS_KEY, "DEVICEID", "REG_BINARY", DEVICE_ID)
        bed.reg_add(STATUS_KEY, "ServiceStatus", "REG_DWORD", 2)
        for name in ("ORVUPLD.exitcode", "ORVUPLD.log", "config.ini"):
            bed.host_path(wb.AGENT_DIR + "\\" + name).unlink(missing_ok=True)
        for name in self.pool_leftovers():
            bed.host_path(wb.AGENT_DIR + "\\MessagePool\\" + name).unlink()
        self.addCleanup(self.stop_service)

    @staticmethod
    def pool_leftovers():
        return pool_files()

    def stop_service(self):
        status = bed.query(SERVICE)
        if status is not None and status.state != wb.SERVICE_STOPPED:
            bed.stop_service(SERVICE, STOP_TIMEOUT)

    def start_agent(self, entry=MONITORING):
        mark = bed.event_mark()
        bed.start_service(SERVICE, START_TIMEOUT)
        bed.wait_event(lambda e: e.event_id == entry, timeout=START_TIMEOUT, since=mark)
        return mark

    def status_value(self, name):
        value = bed.reg_values(STATUS_KEY).get(name)
        return None if value is None else value.data

    def entries(self, event_id, mark):
        return [e for e in bed.events_since(mark) if e.event_id == event_id]


class RegistrationTest(CloudTestCase):
    def test_a_registered_device_answered_200_monitors_and_the_cloud_saw_the_exact_request(self):
        self.start_agent()
        request = cloud.requests(kind=1)[0]
        self.assertEqual(request.method, "GET")
        self.assertEqual((request.host, request.path), (STAGING, "/%s/devices/%s" % (PREFIX, DEVICE_TEXT)))
        self.assertEqual(request.header("User-Agent"), "Orvane Agent")
        self.assertRegex(request.header("X-NASAPI-Device-Subkey", ""), r"^([0-9A-F]{2}(:[0-9A-F]{2}){5})?$")
        self.assertEqual(self.status_value("ServiceStatus"), 2)
        self.assertTrue(all(r.host == STAGING for r in cloud.requests()), "only the staging host is asked")

    def test_a_changed_identifier_is_stored(self):
        cloud.add_device(DEVICE_TEXT, answer_dev_id="00112233-4455-6677-8899-AABBCCDDEEFF", dev_id_changed="1")
        self.start_agent()
        self.assertEqual(self.status_value("DEVICEID"), bytes.fromhex("33221100554477668899AABBCCDDEEFF"))

    def test_an_unknown_device_is_reset_and_the_agent_waits_unregistered(self):
        cloud.script("/%s/devices/%s" % (PREFIX, DEVICE_TEXT),
                     Answer(401, error_body("4012", "dev_id", DEVICE_TEXT)))
        mark = self.start_agent(UNREGISTERED)
        warning = self.entries(0x800004B0, mark)
        self.assertEqual([e.text for e in warning],
                         ["本機器はOrvaneサーバーに登録されておりません。\n機器IDをリセットしました。"])
        self.assertIn(self.status_value("DEVICEID"), (None, bytes(16)))
        self.assertEqual(self.status_value("ServiceStatus"), 1)

    def test_a_server_error_monitors_without_registration_and_starts_no_uploader(self):
        cloud.script("/%s/devices/%s" % (PREFIX, DEVICE_TEXT), Answer(500, error_body("5000")))
        mark = self.start_agent()
        failure = self.entries(0xC0000521, mark)
        self.assertEqual(len(failure), 1)
        self.assertTrue(failure[0].text.startswith("登録情報の取得に失敗しました。\nサーバーで内部エラーが発生しました。\n\nstatus[500]"),
                        failure[0].text)
        self.assertEqual(self.status_value("ServiceStatus"), 4)
        bed.control(SERVICE, 128)
        wait_for(lambda: len(pool_files()) >= 2, what="the test event and its status in the pool")
        time.sleep(2)  # an uploader would have started by now
        self.assertFalse(bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log").exists(), "no uploader in state 4")
        self.assertEqual(cloud.uploads(), [])


class UploadTest(CloudTestCase):
    def test_messages_written_by_a_control_reach_the_cloud_through_the_uploader(self):
        self.start_agent()
        bed.control(SERVICE, 128)
        uploads = cloud.wait_requests(lambda r: r.route == "upload", count=2, timeout=40)
        names = [u.name for u in cloud.uploads()]
        self.assertTrue(names[0].startswith("RE[") and names[1].startswith("RL["), names)
        event = json.loads(cloud.uploads()[0].data[3:].decode("utf-8"))
        self.assertEqual((event["act_id"], event["dev_id"]), (9010, DEVICE_TEXT))
        self.assertEqual(uploads[0].header("X-Device-Id"), DEVICE_TEXT)
        wait_for(lambda: not pool_files(), what="the pool emptied by the uploader")

        log = bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log").read_text("utf-8").splitlines()
        self.assertEqual(log[0], '"C:\\orvsvc\\ORVUPLD.exe" --poolpath "C:\\orvsvc\\MessagePool" --rcount 6 '
                                 '--rseconds 10 --messagehide --configpath "C:\\orvsvc\\config.ini"')
        raw = bed.host_path(wb.AGENT_DIR + "\\config.ini").read_bytes()
        self.assertTrue(raw.startswith(b"\xef\xbb\xbf"))
        config = json.loads(base64.b64decode(raw[3:], validate=True).decode("ascii"))
        self.assertEqual(list(config), ["device_id", "mac_address", "proxy_host", "proxy_port", "proxy_user",
                                        "proxy_password"])
        self.assertEqual((config["device_id"], config["proxy_host"], config["proxy_port"]),
                         (DEVICE_TEXT, "127.0.0.1", str(cloud.port)))
        self.assertEqual(config["mac_address"], uploads[0].header("X-Mac-Address"))

    def test_uploader_exit_codes_reach_the_event_log(self):
        bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.exitcode").write_text("64")
        mark = self.start_agent()
        bed.control(SERVICE, 129)
        entry = bed.wait_event(lambda e: e.event_id == 0xC0000526, timeout=40, since=mark)
        self.assertEqual(entry.text, "アップローダーでエラーが発生しました。\n[サーバーへの接続に失敗しました(CODE=64)。]")


class SelfUpdateTest(CloudTestCase):
    def setUp(self):
        super().setUp()
        bed.host_path("C:\\orvsvc-installer.log").unlink(missing_ok=True)

    def installer_runs(self):
        log = bed.host_path("C:\\orvsvc-installer.log")
        return log.read_text("utf-8").splitlines() if log.exists() else []

    def test_a_signed_agent_update_is_unpacked_verified_and_started_and_the_service_ends(self):
        cloud.software.agt_ver = "99.0"
        cloud.software.agt_url = UPDATE_URL
        cloud.add_download(UPDATE_URL, update_package(signed_installer("Tavolen Co.,Ltd.")))
        mark = self.start_agent()
        bed.control(SERVICE, 134)
        bed.wait_state(SERVICE, wb.SERVICE_STOPPED, STOP_TIMEOUT)
        runs = wait_for(self.installer_runs, what="the installer's run")
        pid, path, command = runs[0].split("\t")
        self.assertEqual(command, '"%s" /s /v"/qn SILENTNAS=1"' % INSTALLER)
        self.assertEqual(len(self.entries(0x40000450, mark)), 1)
        self.assertEqual([r.path for r in cloud.requests(route="download")], ["/agent/ORVSetup.zip"])

    def test_an_installer_of_another_publisher_is_never_started(self):
        cloud.software.agt_ver = "99.0"
        cloud.software.agt_url = UPDATE_URL
        cloud.add_download(UPDATE_URL, update_package(signed_installer("Someone Else Ltd.")))
        mark = self.start_agent()
        bed.control(SERVICE, 134)
        entry = bed.wait_event(lambda e: e.event_id == 0xC000052A, timeout=40, since=mark)
        self.assertEqual(entry.text, "アップデートに失敗しました。\n署名が確認できません。")
        self.assertEqual(bed.query(SERVICE).state, wb.SERVICE_RUNNING)
        self.assertEqual(self.installer_runs(), [])

    def test_a_newer_event_definition_replaces_the_local_file(self):
        definition = '<?xml version="1.0" encoding="UTF-8"?>\r\n<config>\r\n  <ver>2.50</ver>\r\n</config>'
        cloud.software.agt_ver = "0"
        cloud.software.event_def = definition
        mark = self.start_agent()
        bed.control(SERVICE, 134)
        bed.wait_event(lambda e: e.event_id == 0x40000454, timeout=40, since=mark)
        self.assertEqual(bed.host_path(wb.AGENT_DIR + "\\ORVCONFIG.xml").read_bytes(),
                         b"\xef\xbb\xbf" + definition.encode("utf-8"))
        self.assertEqual(self.installer_runs(), [])


if __name__ == "__main__":
    unittest.main()
