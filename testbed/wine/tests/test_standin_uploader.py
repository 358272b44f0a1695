"""Wine tier: the stand-in uploader (ORVUPLD.exe), unzip tool (ORVZIP.exe) and update installer
do what the agent expects of the real ones, so later tests can rely on them.

The uploader gets the agent's exact command line through runline.exe, reads a config.ini
made here as the agent makes it (byte order mark, Base64 of one line of JSON), and sends the
pool through the proxy that config.ini names: the test cloud on a loopback port.

Needs ORVSVC_BIN_DIR holding ORVUPLD.exe, ORVZIP.exe, installer.exe and runline.exe (optionally
ORVSVC_BUILD_DIR for the prefix).
"""

import base64
import io
import os
import socket
import sys
import unittest
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))
sys.path.insert(0, str(HERE.parents[2] / "cloud"))

import winebed as wb  # noqa: E402
from test_cloud import Answer, TestCloud  # noqa: E402

DEVICE = "0102030405060708090A0B0C0D0E0F10"
MAC = "00:11:22:33:44:55"
UPLOADER = wb.AGENT_DIR + "\\ORVUPLD.exe"
UNZIP = wb.AGENT_DIR + "\\ORVZIP.exe"
POOL = wb.AGENT_DIR + "\\MessagePool"
CONFIG = wb.AGENT_DIR + "\\config.ini"
WORK = "C:\\Windows\\Temp\\ORVANE_UPDATE"
# What the agent runs, character for character.
AGENT_LINE = '"%s" --poolpath "%s" --rcount 6 --rseconds 10 --messagehide --configpath "%s\\%s"' % (
    UPLOADER, POOL, wb.AGENT_DIR, "config.ini")

bed = None
cloud = None
bin_dir = None


def setUpModule():
    global bed, cloud, bin_dir
    bed = wb.module_bed("standin", {"ORVUPLD.exe": wb.AGENT_DIR, "ORVZIP.exe": wb.AGENT_DIR,
                                    "runline.exe": wb.TOOLS_DIR})
    bin_dir = bed.bin_dir
    try:
        if not (bin_dir / "installer.exe").is_file():
            raise RuntimeError("installer.exe not found in %s" % bin_dir)
        cloud = TestCloud()
        cloud.start()
    except BaseException:
        bed.close()
        raise


def tearDownModule():
    if bed is not None:
        bed.close()
    if cloud is not None:
        cloud.stop()


def run_line(line, timeout=60):
    """Runs `line` as the exact command line, from the agent's folder; returns the exit code."""
    result = bed.run([wb.TOOLS_DIR + "\\runline.exe", "--cwd", wb.AGENT_DIR, "--timeout",
                      str(timeout * 1000), line], timeout=timeout + 15)
    return result.returncode


def config_bytes(members=None, order=None):
    values = {"device_id": DEVICE, "mac_address": MAC, "proxy_host": "127.0.0.1",
              "proxy_port": str(cloud.port), "proxy_user": "", "proxy_password": ""}
    values.update(members or {})
    names = order or list(values)
    text = "{" + ",".join('"%s":"%s"' % (name, values[name]) for name in names) + "}"
    return b"\xef\xbb\xbf" + base64.b64encode(text.encode("ascii"))


def closed_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


class UploaderTest(unittest.TestCase):
    def setUp(self):
        self.pool = bed.host_path(POOL)
        self.pool.mkdir(parents=True, exist_ok=True)
        for path in self.pool.iterdir():
            path.unlink()
        for name in ("ORVUPLD.exitcode", "ORVUPLD.log"):
            bed.host_path(wb.AGENT_DIR + "\\" + name).unlink(missing_ok=True)
        bed.host_path(CONFIG).write_bytes(config_bytes())
        cloud.clear_records()
        cloud.clear_scripts()

    def put(self, *names):
        files = {}
        for name in names:
            files[name] = b"\xef\xbb\xbf{\r\n    \"name\":\"%s\"\r\n}" % name.encode()
            (self.pool / name).write_bytes(files[name])
        return files

    def left(self):
        return sorted(p.name for p in self.pool.iterdir())

    def log_lines(self):
        return bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.log").read_bytes().decode("utf-8").splitlines()

    def test_sends_every_message_lowest_number_first_and_empties_the_pool(self):
        files = self.put("RL[A].json", "RE[2].json", "RL[1].json", "RE[3].json")
        (self.pool / "other.txt").write_bytes(b"not a message")
        self.assertEqual(run_line(AGENT_LINE), 0)
        uploads = cloud.uploads()
        self.assertEqual([u.name for u in uploads], ["RL[1].json", "RE[2].json", "RE[3].json", "RL[A].json"])
        for upload in uploads:
            self.assertEqual((upload.data, upload.device_id, upload.mac_address),
                             (files[upload.name], DEVICE, MAC))
        self.assertEqual(self.left(), ["other.txt"])
        self.assertEqual(self.log_lines(), [AGENT_LINE])
        # Through the named proxy; Wine 8's WinHTTP writes the absolute form with ":80".
        request = cloud.requests()[0]
        self.assertEqual((request.host, request.method, request.route), ("upload.orvane.example", "POST", "upload"))

    def test_a_forced_exit_code_comes_back_before_anything_is_sent(self):
        self.put("RL[1].json")
        bed.host_path(wb.AGENT_DIR + "\\ORVUPLD.exitcode").write_text("35\n")
        self.assertEqual(run_line(AGENT_LINE), 35)
        self.assertEqual(cloud.requests(), [])
        self.assertEqual(self.left(), ["RL[1].json"])

    def test_command_line_faults_give_their_codes(self):
        other_config = '--configpath "%s"' % CONFIG
        cases = [
            (AGENT_LINE.replace(" --rcount 6", ""), 16),
            (AGENT_LINE.replace("--rcount 6", "--rcount six"), 16),
            (AGENT_LINE.replace(" --rseconds 10", ""), 17),
            (AGENT_LINE + " --type 1", 18),
            (AGENT_LINE.replace(POOL, POOL + "\\missing"), 19),
            (AGENT_LINE.replace(" " + '--configpath "%s\\config.ini"' % wb.AGENT_DIR, ""), 20),
            (AGENT_LINE.replace('--configpath "%s\\config.ini"' % wb.AGENT_DIR, other_config) + " --extra", 99),
        ]
        for line, code in cases:
            with self.subTest(line=line):
                self.assertEqual(run_line(line), code)
        self.assertEqual(self.log_lines(), [line for line, _ in cases])

    def test_config_faults_give_their_codes(self):
        wrong_order = ["mac_address", "device_id", "proxy_host", "proxy_port", "proxy_user", "proxy_password"]
        cases = [
            (None, 32),
            (config_bytes()[3:], 33),                                # no byte order mark
            (config_bytes() + b"\r\n", 33),                          # a line break after the text
            (b"\xef\xbb\xbf" + base64.b64encode(b"{}"), 34),
            (config_bytes(order=wrong_order), 34),
            (config_bytes({"device_id": DEVICE.lower()}), 35),
            (config_bytes({"device_id": ""}), 35),
            (config_bytes({"mac_address": ""}), 36),
            (config_bytes({"proxy_host": "", "proxy_port": "0"}), 64),  # the proxy is off
            (config_bytes({"proxy_port": str(closed_port())}), 64),
        ]
        self.put("RL[1].json")
        for data, code in cases:
            with self.subTest(code=code, data=data):
                path = bed.host_path(CONFIG)
                path.unlink(missing_ok=True)
                if data is not None:
                    path.write_bytes(data)
                self.assertEqual(run_line(AGENT_LINE), code)
        self.assertEqual(self.left(), ["RL[1].json"])

    def test_a_refused_file_ends_the_run_and_keeps_it_and_the_rest(self):
        self.put("RL[1].json", "RL[2].json", "RL[3].json")
        cloud.script("/upload/RL[2].json", Answer(status=500))
        self.assertEqual(run_line(AGENT_LINE), 128)
        self.assertEqual([u.name for u in cloud.uploads()], ["RL[1].json"])
        self.assertEqual(self.left(), ["RL[2].json", "RL[3].json"])

    def test_proxy_credentials_from_the_config_answer_the_proxy_challenge(self):
        self.put("RL[1].json")
        bed.host_path(CONFIG).write_bytes(config_bytes({"proxy_user": "proxyuser",
                                                        "proxy_password": "pa$$word"}))
        cloud.proxy_credentials = ("proxyuser", "pa$$word")
        try:
            self.assertEqual(run_line(AGENT_LINE), 0)
        finally:
            cloud.proxy_credentials = None
        # WinHTTP sends them only after the proxy's 407 Basic challenge.
        self.assertEqual([r.status for r in cloud.requests()], [407, 200])
        self.assertEqual(self.left(), [])

    def test_an_unregistered_device_is_refused_by_the_cloud(self):
        self.put("RL[1].json")
        bed.host_path(CONFIG).write_bytes(config_bytes({"device_id": "0" * 32}))
        self.assertEqual(run_line(AGENT_LINE), 104)
        self.assertEqual(self.left(), ["RL[1].json"])


def stored_zip(entries):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_STORED) as archive:
        for name, content in entries:
            archive.writestr(zipfile.ZipInfo(name), content)
    return data.getvalue()


class UnzipTest(unittest.TestCase):
    def setUp(self):
        self.work = bed.host_path(WORK)
        if self.work.exists():
            for path in sorted(self.work.rglob("*"), reverse=True):
                path.rmdir() if path.is_dir() else path.unlink()
        self.work.mkdir(parents=True, exist_ok=True)
        self.outside = bed.host_path("C:\\Windows\\Temp\\evil.txt")
        self.outside.unlink(missing_ok=True)

    def unzip(self, data, name="ORVSetup.zip"):
        (self.work / name).write_bytes(data)
        # The agent's unzip command: tool, downloaded file, work folder, each quoted.
        return run_line('"%s" "%s\\%s" "%s"' % (UNZIP, WORK, name, WORK))

    def test_the_update_archive_extracts_under_the_work_folder(self):
        installer = os.urandom(5000)
        data = stored_zip([("ORVSetup/", b""), ("ORVSetup/ORVSetup.exe", installer),
                           ("ORVSetup/data/setup.ini", b"[setup]\r\n")])
        self.assertEqual(self.unzip(data), 0)
        self.assertEqual((self.work / "ORVSetup" / "ORVSetup.exe").read_bytes(), installer)
        self.assertEqual((self.work / "ORVSetup" / "data" / "setup.ini").read_bytes(), b"[setup]\r\n")

    def test_an_archive_with_one_unsafe_name_is_refused_whole(self):
        for bad in ("../evil.txt", "ORVSetup/../../evil.txt", "/Windows/Temp/evil.txt",
                    "C:/Windows/Temp/evil.txt", "ORVSetup\\..\\..\\evil.txt", "ORVSetup/.../x",
                    "ORVSetup/file.exe:stream", "ORVSetup/CON", "ORVSetup/trailing. "):
            with self.subTest(name=bad):
                self.assertEqual(self.unzip(stored_zip([("ORVSetup/ok.txt", b"ok"), (bad, b"evil")])), 4)
                self.assertFalse((self.work / "ORVSetup").exists())
                self.assertFalse(self.outside.exists())

    def test_what_it_cannot_read_fails_without_writing(self):
        deflated = io.BytesIO()
        with zipfile.ZipFile(deflated, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("ORVSetup/ORVSetup.exe", b"x" * 1000)
        damaged = bytearray(stored_zip([("ORVSetup/ORVSetup.exe", b"installer bytes")]))
        damaged[damaged.index(b"installer")] ^= 0xFF
        for name, data, code in (("deflated", deflated.getvalue(), 3), ("crc", bytes(damaged), 3),
                                 ("not a zip", b"MZ" + b"\x00" * 100, 3)):
            with self.subTest(name):
                self.assertEqual(self.unzip(data), code)
                self.assertFalse((self.work / "ORVSetup").exists())
        self.assertEqual(run_line('"%s" "%s\\none.zip" "%s"' % (UNZIP, WORK, WORK)), 2)
        self.assertEqual(run_line('"%s" "%s\\none.zip"' % (UNZIP, WORK)), 1)


class InstallerTest(unittest.TestCase):
    INSTALLER = WORK + "\\ORVSetup\\ORVSetup.exe"
    # The agent's installer command: the path in quotes and the silent switches.
    LINE = '"%s" /s /v"/qn SILENTNAS=1"' % INSTALLER

    def setUp(self):
        # Where the agent finds it after unpacking an update archive.
        bed.copy_in(bin_dir / "installer.exe", WORK + "\\ORVSetup", name="ORVSetup.exe")

    def lines(self, path):
        return path.read_bytes().decode("utf-8").splitlines()

    def test_the_installer_records_process_path_and_exact_command_line(self):
        log = bed.host_path("C:\\orvsvc-installer.log")
        log.unlink(missing_ok=True)
        self.assertEqual(run_line(self.LINE), 0)
        self.assertEqual(run_line(self.LINE), 0)
        runs = [line.split("\t") for line in self.lines(log)]
        self.assertEqual([run[1:] for run in runs], [[self.INSTALLER, self.LINE]] * 2)
        self.assertTrue(all(run[0].isdigit() and int(run[0]) > 0 for run in runs), runs)

    def test_a_log_path_beside_the_installer_redirects_the_record(self):
        folder = bed.host_path(WORK + "\\ORVSetup")
        other = bed.host_path("C:\\testbed\\installer-runs.log")
        other.unlink(missing_ok=True)
        (folder / "installer.logpath").write_bytes(b"C:\\testbed\\installer-runs.log\r\n")
        try:
            self.assertEqual(run_line(self.LINE), 0)
        finally:
            (folder / "installer.logpath").unlink()
        self.assertEqual(self.lines(other)[0].split("\t")[2], self.LINE)


if __name__ == "__main__":
    unittest.main()
