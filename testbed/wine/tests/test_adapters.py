"""Wine tier: each Win32 adapter the agent uses, driven through the agent's own code by
oscheck.exe, checked for what a real Windows would also have to give; the rules behind each
are host-tested on the fakes. The cryptography checks get a second bed with a Japanese locale,
so its ANSI code page is 932 (Wine takes it from the locale name alone).
"""

import datetime
import hashlib
import http.server
import json
import re
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import signing  # noqa: E402
import winebed as wb  # noqa: E402

bed = ja_bed = server = None
LIBRARY = "query_standin.dll"
LIBRARY_DIR = wb.TOOLS_DIR + "\\lib"
JAPANESE_DIR = wb.TOOLS_DIR + "\\暗号化ライブラリ"
XML_DIR = "C:\\xmlparity"


def setUpModule():
    global bed, ja_bed, server
    # The library also sits beside oscheck.exe, where a search-path load would find it.
    bed = wb.module_bed("adapters", {"oscheck.exe": wb.TOOLS_DIR, LIBRARY: wb.TOOLS_DIR})
    unittest.addModuleCleanup(bed.close)
    ja_bed = wb.module_bed("adapters-ja", {"oscheck.exe": wb.TOOLS_DIR}, locale="ja_JP.UTF-8")
    unittest.addModuleCleanup(ja_bed.close)
    for folder in (LIBRARY_DIR, JAPANESE_DIR):
        bed.copy_in(bed.bin_dir / LIBRARY, folder)
    bed.host_path(XML_DIR).mkdir(parents=True, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    unittest.addModuleCleanup(server.server_close)
    unittest.addModuleCleanup(server.shutdown)


def unescape(field):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), field)


def oscheck(*args, on=None, timeout=60):
    """oscheck's output lines, split into tab-separated (unescaped) fields."""
    result = (on or bed).run([wb.OSCHECK] + list(args), timeout=timeout, check=True)
    return [[unescape(f) for f in line.split("\t")] for line in result.out.replace("\r\n", "\n").splitlines()]


def tagged(lines):
    return {line[0]: line[1:] for line in lines}


# ---- cryptography: BCrypt SHA-256; a proxy password the settings program encrypts (RC4, key =
# the first 16 bytes of the SHA-1 of the pass phrase) decrypted through the real
# CCryptString::DecryptRegistryValue in code page 932; a key with and without a key container;
# signer names and WinVerifyTrust of a file signed here; the update's private folder.

PASS_PHRASE = b"TokHarvelinSeedQRZ"
STATUS_SUBKEY = r"SOFTWARE\ORVANE\ORVSVC\Status"
PUBLISHER = "Tavolen Co.,Ltd."


def crypto(*args):
    return oscheck("crypto", *args, on=ja_bed)[0]


def settings_program_encrypt(plaintext: bytes) -> bytes:
    key = hashlib.sha1(PASS_PHRASE).digest()[:16]
    s, j = list(range(256)), 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out, i, j = bytearray(), 0, 0
    for byte in plaintext:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


class CryptoTest(unittest.TestCase):
    def test_sha256_of_empty_one_block_two_blocks_and_code_page_932_text(self):
        for data in (b"", b"abc", b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                     "パスワード".encode("cp932")):
            self.assertEqual(crypto("sha256", data.hex() or "-"), ["sha256", "1", hashlib.sha256(data).hexdigest()])

    def test_the_settings_programs_forms_decrypt_and_oversized_values_do_not(self):
        cases = [("NoSuchValue", None, ["5", ""]),
                 ("TooLong", settings_program_encrypt(b"x" * 1025), ["5", ""]),
                 ("Longest", settings_program_encrypt(b"x" * 1024), ["0", "x" * 1024])]
        for password in ("proxy-Pass_123!", "パスワード日本語ﾃｽﾄ"):
            ansi = password.encode("cp932")
            cases += [("Plain", settings_program_encrypt(ansi), ["0", password]),
                      ("ZeroStored", settings_program_encrypt(ansi) + b"\0", ["0", password]),
                      ("ZeroEncrypted", settings_program_encrypt(ansi + b"\0"), ["0", password])]
        for name, stored, expected in cases:
            with self.subTest(name=name, expected=expected):
                if stored is not None:
                    ja_bed.reg_import({"HKLM\\" + STATUS_SUBKEY: {name: stored}})
                self.assertEqual(crypto("decrypt", STATUS_SUBKEY, name)[1:], ["932"] + expected)

    def test_the_adapter_derives_a_key_without_the_default_container(self):
        attempts = {f[1]: (f[2], int(f[3], 16)) for f in oscheck("crypto", "containers", on=ja_bed)}
        self.assertEqual((attempts["default"][0], attempts["adapter"]), ("0", ("1", 0)))

    def test_signer_names_trust_answers_and_the_private_folder(self):
        work = ja_bed.tmp_dir / "signing"
        signed = {}
        # The simple display name is the CN, whatever the organization says.
        for cn, org in ((PUBLISHER, None), ("MERIDEX CO., LTD.", "Someone Else")):
            cert, key = signing.make_certificate(cn, work, organization=org)
            signed[cn] = ja_bed.copy_in(signing.sign_exe(ja_bed.bin_dir / "oscheck.exe", work / "signed.exe",
                                                         cert, key), wb.TOOLS_DIR, cn[:4] + ".exe")
        # Wine accepts an untrusted root, so the trust rules are host-tested: here only that the
        # answer is consistent and names come only from a signer the verification accepted.
        for path, cn in [(p, cn) for cn, p in signed.items()] + [(wb.OSCHECK, None), (wb.TOOLS_DIR + "\\x.exe", None)]:
            with self.subTest(path=path):
                ok, error, issuer, subject, trusted, trust_error, _, trusted_subject = crypto("signature", path)[1:]
                self.assertEqual((ok, int(error, 16) == 0, issuer, subject),
                                 ("1", True, cn, cn) if cn else ("0", False, "", ""))
                self.assertIn((trusted, int(trust_error, 16) == 0, trusted_subject != ""),
                              (("0", False, False), ("1", True, True)))
        # Wine shows a descriptor made from the Unix mode bits and enforces none of it, so who may
        # use the folder is host-tested; here it is made, read back and removed.
        made, owner, sddl, removed = crypto("private", "C:\\windows\\temp\\ORVCHECK_PRIVATE")[1:]
        self.assertEqual((int(made, 16), int(removed, 16), owner in ("system", "administrators", "self"),
                          "(A;OICI;FA;;;SY)" in sddl), (0, 0, True, True), (owner, sddl))
        self.assertFalse(ja_bed.host_path("C:\\windows\\temp\\ORVCHECK_PRIVATE").exists())


# ---- HID: SetupAPI's interface list, each device opened overlapped, its strings, layout and
# input report as bounded requests, then UPSCtrl_APC::ReadUps. Wine lists fake devices of its
# own (vendor 845E), none of the UPS maker's: the list ends on "no more items", no UPS is found,
# and no request hangs: the adapter bounds each to 1 s plus 2 s for a cancel, and only a hang
# (ten times that) fails here, however busy the machine.

NO_MORE_ITEMS = "259"


class HidDevicesTest(unittest.TestCase):
    def test_the_list_ends_on_no_more_items_holds_no_ups_and_every_request_is_bounded(self):
        lines = oscheck("hid", timeout=120)
        of = lambda kind: [f for f in lines if f[0] == kind]  # noqa: E731
        interfaces = of("interface")
        self.assertEqual(of("list"), [])
        self.assertEqual([f[2] for f in interfaces], ["0"] * (len(interfaces) - 1) + [NO_MORE_ITEMS])
        # Every device has a hardware id, the first one too (its DevInst is 0).
        self.assertTrue(all("VID_845E" in f[3] for f in interfaces[:-1]), interfaces)
        self.assertEqual([f[1:] for f in of("ups")], [["1", "0", "1", NO_MORE_ITEMS]])
        timed = [int(f[3]) for f in of("string") + of("caps") + of("input")]
        self.assertTrue(all(ms < 30000 for ms in timed), timed)


# ---- disks: Wine opens \\.\PhysicalDrive0 but refuses SMART_RCV_DRIVE_DATA (50): a refused
# request comes back as its code with the output zeroed, a missing disk gives 2, and a disk whose
# reads all fail is still listed, with empty identify texts and SMART not valid.

class StorageDeviceTest(unittest.TestCase):
    def test_refused_and_missing_disks(self):
        for device, error in (("\\\\.\\PhysicalDrive0", "50"), ("\\\\?\\PhysicalDrive0", "50"),
                              ("\\\\.\\PhysicalDrive97", "2")):
            with self.subTest(device=device):
                lines = tagged(oscheck("storage", device))
                self.assertEqual([lines[r] for r in ("identify", "smart_data", "smart_thresholds")], [["0", error, "1"]] * 3)
                self.assertEqual(lines["descriptor"][1] == "0", lines["descriptor"][0] == "1")
                if error == "2":
                    self.assertEqual(lines["descriptor"], ["0", "2", "", "", "", ""])
                    self.assertEqual(lines["sectors"], ["0", "2", "0", "0"])
                elif lines["sectors"][0] == "1":
                    self.assertIn(lines["sectors"][2], ("512", "4096"))
                else:
                    self.assertEqual(lines["sectors"][2:], ["0", "0"])
                self.assertEqual(lines["disk"], ["HDD0", "0", "", "", ""])


# ---- the storage layout: Wine registers no Virtual Disk Service loader, so the enumeration fails
# with REGDB_E_CLASSNOTREG and an empty snapshot (how long that takes is the benchmarks' business).
# Free space and the file system of C:\ are real. The encryption product's query library is
# query_standin.dll: loaded from an absolute path it answers, a bare name or a relative path is
# refused even where the search path would find it, and unloading ends its answers.

KNOWN_VOLUME = "{6F1D2C3B-5A49-4E87-9D10-0123456789AB}"
UNTOUCHED = str(0xFFFFFFFF)


class LayoutTest(unittest.TestCase):
    def test_a_missing_disk_service_fails_with_an_empty_snapshot(self):
        self.assertEqual(oscheck("layout", "vds"), [["vds", "0", "0x80040154", "0", "0", "0"]])

    def test_volume_space_and_file_system(self):
        space, file_system = oscheck("layout", "volume", "C:\\")
        self.assertEqual((space[:3], file_system), (["space", "1", "0"], ["filesystem", "1", "0", "NTFS"]))
        free_to_caller, total, total_free = map(int, space[3:])
        self.assertTrue(0 < total_free <= total and free_to_caller <= total_free, space)
        space, file_system = oscheck("layout", "volume", "Q:\\")
        self.assertEqual((space[:2], space[3:], file_system[:2], file_system[3:]),
                         (["space", "0"], ["0", "0", "0"], ["filesystem", "0"], [""]))
        self.assertNotIn("0", (space[2], file_system[2]))

    def test_the_encryption_library_loads_only_from_an_absolute_local_path(self):
        loaded = {"load": ["0", "1"], "query": ["0", "7"], "reload": ["0"], "unload": ["0"], "after_unload": ["5"]}
        cases = [(folder + "\\" + LIBRARY, KNOWN_VOLUME, loaded) for folder in (LIBRARY_DIR, JAPANESE_DIR)]
        cases.append((LIBRARY_DIR + "\\" + LIBRARY, "{00000000-0000-0000-0000-000000000000}",
                      dict(loaded, query=["1", UNTOUCHED])))
        cases.append((LIBRARY_DIR + "\\missing.dll", KNOWN_VOLUME,
                      {"load": ["126", "0"], "query": ["5", UNTOUCHED], "unload": ["0"], "after_unload": ["5"]}))
        for path in (LIBRARY, ".\\" + LIBRARY, "lib\\" + LIBRARY, "C:" + LIBRARY, "\\testbed\\" + LIBRARY,
                     "\\\\127.0.0.1\\c$\\testbed\\" + LIBRARY, "C:/testbed/lib/" + LIBRARY, ""):
            cases.append((path, KNOWN_VOLUME,
                           {"load": ["87", "0"], "query": ["5", UNTOUCHED], "unload": ["0"], "after_unload": ["5"]}))
        for path, volume, expected in cases:
            with self.subTest(path=path, volume=volume):
                self.assertEqual(tagged(oscheck("layout", "encryption", path, volume)), expected)


# ---- WMI (COM apartment, process security, WbemLocator, semi-synchronous queries with a bounded
# Next) and the network group type through the real registry. Wine's WMI has one fixed board and
# one BIOS row, so the texts are checked for shape and for agreeing across the model-flag rows;
# the rules themselves are host-tested against the fake.

LCD, TEMPERATURE, BOARD = 0x100000, 0x200000, 0x400000
TCPIP = r"HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters"


def wmi(*flags):
    """{flags: [connected, last result, product, serial, firmware, writes serial]}, network type."""
    lines = tagged(oscheck("wmi", *("0x%X" % f for f in flags)))
    return {int(k, 16): v for k, v in lines.items() if k != "network"}, int(lines["network"][0])


class WmiInventoryTest(unittest.TestCase):
    def test_every_row_reads_through_the_adapter_and_rows_of_one_source_agree(self):
        rows, _ = wmi(0, LCD, TEMPERATURE, BOARD, LCD | BOARD, TEMPERATURE | BOARD, 0x8 | 0x800)
        for flags, (connected, last, *texts, writes) in rows.items():
            with self.subTest(flags=hex(flags)):
                self.assertEqual((connected, int(last, 16) & 0x80000000, writes), ("1", 0, "1" if flags & BOARD else "0"))
                self.assertTrue(all(re.fullmatch(r"[\x21-\x7e]([\x20-\x7e]*[\x21-\x7e])?", t) for t in texts), texts)
        firmware = {f: row[4] for f, row in rows.items()}
        # No series flag: the BIOS release date as a real yyyymmdd date.
        datetime.datetime.strptime(firmware[0], "%Y%m%d")
        self.assertEqual((firmware[0x8 | 0x800], firmware[LCD | BOARD], firmware[TEMPERATURE], firmware[TEMPERATURE | BOARD]),
                         (firmware[0], firmware[LCD], firmware[BOARD], firmware[BOARD]))
        self.assertEqual(len({row[2] for row in rows.values()}), 1, "one board product")
        self.assertEqual(len({row[3] for f, row in rows.items() if f != BOARD}), 1, "one board serial")

    def test_network_group_type_follows_the_domain(self):
        for domain, expected in (("corp.example", 100), ("", 200), (None, 0)):
            bed.reg_import({TCPIP: {"Domain": domain}})
            self.assertEqual(wmi()[1], expected, domain)


# ---- the port list through the IP helper (GetAdaptersAddresses with the size question first,
# then NetworkInfo::Refresh). Wine lists the Linux interfaces, so the list is checked against
# what Linux reports: every Ethernet interface with its MAC, never loopback, an up interface with
# one of its IPv4 addresses. The ordering rules are host-tested against the fake.

def linux_interfaces():
    """{name: (MAC upper-case, ARP type, up, IPv4 addresses)}."""
    def read(path):
        try:
            return path.read_text().strip()
        except OSError:
            return ""
    out = subprocess.run(["ip", "-4", "-o", "addr", "show"], capture_output=True, text=True, timeout=10).stdout
    addresses = {}
    for m in re.finditer(r"^\d+:\s+(\S+)\s+inet\s+([\d.]+)/", out, re.M):
        addresses.setdefault(m.group(1).split("@")[0], set()).add(m.group(2))
    return {p.name: (read(p / "address").upper(), read(p / "type"), read(p / "operstate") == "up",
                     addresses.get(p.name, set())) for p in Path("/sys/class/net").iterdir()}


class NetworkInfoTest(unittest.TestCase):
    def test_the_ports_are_the_linux_ethernet_interfaces_with_their_addresses(self):
        lines = oscheck("net")
        raw = [int(f) for f in tagged(lines)["raw"][1:]]
        ports = [dict(zip(("mac", "has", "address", "dns", "gateway", "description", "counter"), f[1:]))
                 for f in lines if f[0] == "port"]
        linux = linux_interfaces()
        # Something is listed, and what has another address length is not a port.
        self.assertEqual((bool(raw), len(ports)), (True, raw.count(6)))
        self.assertEqual({p["mac"] for p in ports},
                         {mac for mac, kind, _, _ in linux.values()
                          if kind == "1" and re.fullmatch(r"([0-9A-F]{2}:){5}[0-9A-F]{2}", mac)})
        self.assertEqual(tagged(lines)["device"], [ports[0]["mac"]] if ports else [""])
        for port in ports:
            with self.subTest(mac=port["mac"]):
                mine = [v for v in linux.values() if v[0] == port["mac"]]
                addresses, up = set().union(*(v[3] for v in mine)), any(v[2] for v in mine)
                if port["has"] == "1":
                    self.assertIn(port["address"], addresses)
                else:
                    self.assertEqual(port["address"], "0.0.0.0")
                    self.assertFalse(up and addresses, "an up port with IPv4 %s listed without one" % addresses)
                if not up:
                    self.assertEqual((port["dns"], port["gateway"]), ("0.0.0.0", "0.0.0.0"))
                self.assertEqual(port["counter"], port["description"].translate(str.maketrans("()#", "[]_")))


# ---- HTTP through the real WinHTTP adapter against a server of this test on 127.0.0.1. Raw
# exchanges check what reaches the server and what comes back; the Web API client goes to the
# staging host through a named proxy read from the registry, which this server plays: under
# Wine it receives origin-form request lines.

USER_AGENT = "Orvane Agent"
DEVICE_ID = "0123456789ABCDEF0123456789ABCDEF"
BIG_BODY = bytes((i * 7 + i // 251) % 256 for i in range(200 * 1024))


class Recorder(http.server.BaseHTTPRequestHandler):
    """Answers by path and records every request it sees."""
    protocol_version = "HTTP/1.1"
    seen = []

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        # The request line as sent: http.server folds a leading "//" of self.path into "/".
        Recorder.seen.append({"method": self.command, "path": self.requestline.split(" ")[1],
                              "headers": {k.lower(): v for k, v in self.headers.items()}, "body": body})
        if self.path.endswith("/trickle"):
            # A large body promised and sent a byte at a time, never pausing long enough for a
            # per-read time-out: only a deadline for the whole exchange ends it.
            self.send_response(200)
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            try:
                for _ in range(600):
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(0.1)
            except OSError:
                pass
            return
        status = 500 if self.path.endswith("/status/500") else 201 if self.command == "POST" else 200
        payload = BIG_BODY if self.path.endswith("/big") else json.dumps({"dev_id": DEVICE_ID, "dev_id_changed": "0"}).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    do_POST = do_GET


def http_fields(*args):
    """key=value pairs of oscheck http's last line; text= takes the rest of the line."""
    out = bed.run([wb.OSCHECK, "http"] + list(args), timeout=120, check=True).out
    return dict(re.findall(r"(\w+)=(.*?)(?= \w+=|$)", out.replace("\r\n", "\n").strip().splitlines()[-1]))


class HttpTest(unittest.TestCase):
    def setUp(self):
        Recorder.seen.clear()

    def test_raw_exchanges(self):
        out = bed.host_path("C:\\testbed\\answer.bin")
        port = server.server_address[1]
        closed = wb.closed_loopback_port()
        body = '{"email":"a@b.example"}'
        subkey = "X-NASAPI-Device-Subkey:00:11:22:AA:BB:CC"
        cases = [  # method, port, path, options, (answered, status, error), what the server saw
            ("GET", port, "/v1/devices/X", ["--header", subkey], ("1", "200", "0"),
             ("GET", "/v1/devices/X", b"", {"x-nasapi-device-subkey": "00:11:22:AA:BB:CC", "user-agent": USER_AGENT})),
            ("POST", port, "//devices", ["--header", "Content-Type:application/json", "--body", body], ("1", "201", "0"),
             ("POST", "//devices", body.encode(), {"content-type": "application/json"})),
            ("GET", port, "/status/500", [], ("1", "500", "0"), None),
            ("GET", port, "/files/big", [], ("1", "200", "0"), None),
            ("GET", closed, "/", [], ("0", "0", "12029"), None),  # ERROR_WINHTTP_CANNOT_CONNECT
        ]
        for method, to, path, options, expected, seen in cases:
            with self.subTest(path=path, port=to):
                Recorder.seen.clear()
                got = http_fields("raw", method, "127.0.0.1", str(to), path, "C:\\testbed\\answer.bin", *options)
                self.assertEqual((got["answered"], got["status"], got["error"]), expected)
                if expected[0] == "1":
                    self.assertEqual(int(got["bytes"]), out.stat().st_size)
                    self.assertTrue(path != "/files/big" or out.read_bytes() == BIG_BODY)
                    self.assertTrue(Recorder.seen[0]["path"].endswith(path), Recorder.seen[0]["path"])
                if seen is not None:
                    request = Recorder.seen[0]
                    self.assertEqual((request["method"], request["path"], request["body"]), seen[:3])
                    self.assertEqual({k: request["headers"].get(k) for k in seen[3]}, seen[3])

    def test_a_trickle_ends_at_the_exchange_deadline(self):
        started = time.monotonic()
        got = http_fields("raw", "GET", "127.0.0.1", str(server.server_address[1]), "/trickle",
                          "C:\\testbed\\answer.bin", "--deadline", "3000")
        self.assertEqual((got["answered"], got["error"]), ("0", "12002"))
        # Only a hang is caught here: ten times the deadline, whatever else the machine does.
        self.assertLess(time.monotonic() - started, 30)

    def test_the_web_api_client_through_the_registry_proxy(self):
        bed.reg_import({wb.STATUS_KEY: {"WebAPIFilePath": "v1", "ProxyEnable": 1, "ProxyServer": "127.0.0.1",
                                        "ProxyPort": server.server_address[1], "ProxyUser": "user1"}})
        got = http_fields("api", "1")
        self.assertEqual((got["result"], got["status"], got["error"], got["dev_id"], got["text"]),
                         ("1", "200", "0", DEVICE_ID, "正常終了"))
        seen = Recorder.seen[-1]
        self.assertEqual((seen["headers"]["host"], seen["headers"]["x-nasapi-device-subkey"],
                          seen["headers"]["user-agent"]), (wb.STAGING_API_HOST, "00:11:22:AA:BB:CC", USER_AGENT))
        self.assertTrue(seen["path"].endswith("/v1/devices/%s" % DEVICE_ID), seen["path"])
        # Registration is posted as UTF-16 JSON with its terminator.
        got = http_fields("api", "3")
        self.assertEqual((got["result"], got["status"]), ("1", "201"))
        seen = Recorder.seen[-1]
        self.assertEqual((seen["method"], seen["headers"]["content-type"]), ("POST", "application/json"))
        self.assertTrue(seen["path"].endswith("/v1/devices") and seen["body"].endswith(b"\0\0"), seen)
        body = json.loads(seen["body"][:-2].decode("utf-16-le"))
        self.assertEqual((body["dev_name"], body["prdct_name"], body["password"]),
                         ("棚のNAS", 'NAS "Pro"', hashlib.sha256(b"abc").hexdigest().upper()))
        # An error text the module lacks falls back to the system table.
        self.assertNotEqual(http_fields("errtext", "5")["text"], "")


# ---- the event definition file reads the same through XmlLite as through libxml2 on the host:
# the files and lines are those tests/platform/agent_ctrl_config_file_test.cpp asserts (change
# both together). For a failed load only the status is compared: how far a reader got before
# its error differs between readers.

MAX_DEPTH = 256
BOM = b"\xef\xbb\xbf"
DECLARATION = b'<?xml version="1.0" encoding="UTF-8"?>\r\n'
RICH = BOM + DECLARATION + "\r\n".join([
    "<!-- event definitions -->",
    "<config>",
    "  <ver>2.10</ver>",
    "  <addevent>",
    '    <logtype path="Application">',
    "      <log><src>Orvane Backup</src><evt_id>1001</evt_id><act_id>5001</act_id><msg>バックアップ失敗</msg></log>",
    "      <log><msg> Disk &amp; volume  </msg><act_id>5002</act_id><src>disk</src><evt_id>7</evt_id></log>",
    "      <log><src>disk</src><evt_id>7</evt_id><act_id>5002</act_id><msg> Disk &amp; volume  </msg></log>",
    "    </logtype>",
    '    <logtype path="System">',
    "      <log><src>Service Control Manager</src><evt_id>7036</evt_id><act_id>6001</act_id>"
    "<msg>line1\r\nline2</msg></log>",
    "    </logtype>",
    '    <logtype path="Security">',
    "      <log><src>a</src><evt_id>1</evt_id><act_id>2</act_id><msg>m</msg></log>",
    "    </logtype>",
    "    <log><src>dropped</src><evt_id>1</evt_id><act_id>1</act_id><msg>x</msg></log>",
    "  </addevent>",
    "  <stopevent>",
    "    <act_id>5002</act_id>",
    "    <act_id>9000</act_id>",
    "  </stopevent>",
    "</config>",
    "",
]).encode("utf-8")
RICH_RULES = ["A Orvane Backup\t1001\t5001\tバックアップ失敗"] + ["A disk\t7\t5002\t Disk & volume  "] * 2 + [
              "S Service Control Manager\t7036\t6001\tline1\\nline2", "O a\t1\t2\tm", "X 5002", "X 9000"]


def wrapped(body):
    return b"<config><ver>1.00</ver>" + body + b"</config>"


def nested(depth, inner=b""):
    return wrapped(b"<a>" * depth + inner + b"</a>" * depth)


CASES = [
    ("blank_ver", b"<config><ver> \r\n </ver></config>", "4 - 0 0 0 0"),
    ("empty_log", wrapped(b'<addevent><logtype path="Application"><log/></logtype></addevent>'), "4 1.00 0 0 0 0"),
    ("empty_unknown", wrapped(b"<note/><stopevent><act_id>1</act_id></stopevent>"), "1 1.00 0 0 0 1"),
    ("malformed", b"<config><ver>1.00</ver><addevent></config>", "4"),
    ("trailing_junk", RICH + b"junk", "4"),
    # Cut short anywhere before the document element closes. (Wine 8's XmlLite aborts the process
    # on a byte order mark followed by less than "<?xml " or by exactly the declaration.)
    ("cut_in_a_rule", RICH[:len(RICH) // 2], "4"),
    ("cut_before_the_end", RICH[:RICH.index(b"</config>") + len(b"</config>") - 1], "4"),
    ("dtd", b'<!DOCTYPE config [<!ENTITY v "9.99">]><config><ver>&v;</ver></config>', "4"),
    ("namespace_first", wrapped(b'<addevent><logtype xmlns="urn:x" path="System"><log/></logtype></addevent>'),
     "4 1.00 0 0 0 0"),
    ("deepest", nested(MAX_DEPTH - 1), "1 1.00 0 0 0 0"),
    ("too_deep", nested(MAX_DEPTH), "4"),
    ("too_deep_empty", nested(MAX_DEPTH - 1, b"<b/>"), "4"),
    ("longest_text", nested(0, b"x" * 10_000_000), "1 1.00 0 0 0 0"),
    ("too_long_text", nested(0, b"x" * 10_000_001), "4"),
]


def xml_lines(files, rules=False):
    """oscheck xml on {name: bytes} in one call: a summary line per file, its rules after it."""
    for name, content in files.items():
        bed.host_path(XML_DIR + "\\" + name).write_bytes(content)
    result = bed.run([wb.OSCHECK, "xml"] + (["--rules"] if rules else []) + [XML_DIR + "\\" + n for n in files],
                     timeout=120, check=True)
    return result.out.replace("\r\n", "\n").splitlines()


class ConfigReaderParityTest(unittest.TestCase):
    def test_each_file_loads_as_on_the_host(self):
        lines = xml_lines({name + ".xml": content for name, content, _ in CASES})
        self.assertEqual([line if " " in expected else line.split(" ")[0] for line, (_, _, expected) in zip(lines, CASES)],
                         [expected for _, _, expected in CASES])
        lines = xml_lines({"rich.xml": RICH}, rules=True)
        self.assertEqual([lines[0]] + [line[2:] for line in lines[1:]], ["1 2.10 3 1 1 2"] + RICH_RULES)


if __name__ == "__main__":
    unittest.main()
