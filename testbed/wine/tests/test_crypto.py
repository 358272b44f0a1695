"""Wine tier: the cryptography adapter through the agent's own code (oscheck crypto).

* SHA-256 through BCrypt against the published digests;
* a proxy password that a stand-in for the settings program encrypts here (RC4, key = the first
  16 bytes of the SHA-1 of the pass phrase, RC4 written out below) and stores as a registry
  binary value decrypts through the real CCryptString::DecryptRegistryValue, in the prefix's
  ANSI code page (932: the bed runs with a Japanese locale);
* the enhanced provider yields a key in a fresh prefix, as a plain process and as a service;
* signer names of an exe signed here with a self-signed certificate, and of an unsigned one;
* what WinVerifyTrust answers for that file (printed; Wine accepts untrusted roots, so the trust
  rules are host-tested against the fake);
* the update's private folder: made by the file-system adapter, its owner and DACL read back
  with GetNamedSecurityInfoW (printed as SDDL), removed through its hold. Wine shows a
  descriptor made from the Unix mode bits and enforces none, so who may use it is host-tested.

Needs ORVSVC_BIN_DIR holding oscheck.exe, openssl and osslsigncode.
"""

import hashlib
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import signing  # noqa: E402
import winebed as wb  # noqa: E402

PASS_PHRASE = b"TokHarvelinSeedQRZ"
STATUS_KEY = r"SOFTWARE\ORVANE\ORVSVC\Status"
PUBLISHER = "Tavolen Co.,Ltd."

bed = None


def setUpModule():
    global bed
    # Wine takes the ANSI code page from the locale name alone: 932 without a ja_JP locale
    # installed on the host.
    bed = wb.module_bed("crypto", {"oscheck.exe": wb.TOOLS_DIR}, locale="ja_JP.UTF-8")


def tearDownModule():
    if bed is not None:
        bed.close()


def check(*args):
    """oscheck crypto's output lines."""
    result = bed.run([wb.OSCHECK, "crypto"] + list(args), timeout=60, check=True)
    return result.stdout.decode("utf-8").replace("\r\n", "\n").splitlines()


def fields(line):
    out = []
    for field in line.split("\t"):
        text, i = [], 0
        while i < len(field):
            if field[i] == "\\" and i + 1 < len(field):
                text.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}[field[i + 1]])
                i += 2
            else:
                text.append(field[i])
                i += 1
        out.append("".join(text))
    return out


def answer(*args):
    lines = check(*args)
    assert len(lines) == 1, lines
    return fields(lines[0])


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 0xFF
        s[i], s[j] = s[j], s[i]
    out, i, j = bytearray(), 0, 0
    for byte in data:
        i = (i + 1) & 0xFF
        j = (j + s[i]) & 0xFF
        s[i], s[j] = s[j], s[i]
        out.append(byte ^ s[(s[i] + s[j]) & 0xFF])
    return bytes(out)


def settings_program_encrypt(plaintext: bytes) -> bytes:
    return rc4(hashlib.sha1(PASS_PHRASE).digest()[:16], plaintext)


class Sha256Test(unittest.TestCase):
    def test_known_digests(self):
        self.assertEqual(answer("sha256", b"abc".hex()), [
            "sha256", "1", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"])
        self.assertEqual(answer("sha256", "-")[2],
                         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")
        long = b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"
        self.assertEqual(answer("sha256", long.hex())[2],
                         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1")
        password = "パスワード".encode("cp932")
        self.assertEqual(answer("sha256", password.hex())[2], hashlib.sha256(password).hexdigest())


class StoredPasswordTest(unittest.TestCase):
    def store(self, name, data: bytes):
        bed.reg_add("HKLM\\" + STATUS_KEY, name, "REG_BINARY", data.hex())

    def decrypt(self, name):
        status, text = answer("decrypt", STATUS_KEY, name)[1:]
        return int(status), text

    def test_the_settings_programs_forms_decrypt(self):
        acp = int(answer("acp")[1])
        print("\nANSI code page of the prefix: %d" % acp, file=sys.stderr)
        passwords = ["proxy-Pass_123!"]
        if acp == 932:
            passwords.append("パスワード日本語ﾃｽﾄ")
        for password in passwords:
            ansi = password.encode("cp932" if acp == 932 else "ascii")
            cipher = settings_program_encrypt(ansi)
            forms = {
                "ciphertext": cipher,
                "ciphertext and a stored zero byte": cipher + b"\0",
                "terminator encrypted along": settings_program_encrypt(ansi + b"\0"),
            }
            for form, stored in forms.items():
                with self.subTest(password=password, form=form):
                    self.store("ProxyPassword", stored)
                    self.assertEqual(self.decrypt("ProxyPassword"), (0, password))

    def test_missing_and_oversized_values_are_unreadable(self):
        self.assertEqual(self.decrypt("NoSuchValue"), (5, ""))
        self.store("TooLong", settings_program_encrypt(b"x" * 1025))
        self.assertEqual(self.decrypt("TooLong"), (5, ""))
        self.store("Longest", settings_program_encrypt(b"x" * 1024))
        self.assertEqual(self.decrypt("Longest"), (0, "x" * 1024))


class KeyContainerTest(unittest.TestCase):
    """A fresh prefix has no default key container: measured both as a service (LocalSystem)
    and as a plain process; the adapter must derive its key either way."""

    @staticmethod
    def attempts(lines):
        return {f[1]: (f[2] == "1", int(f[3], 16)) for f in map(fields, lines)}

    def test_the_adapter_derives_a_key_as_a_service_and_as_a_process(self):
        out = wb.TOOLS_DIR + "\\containers-service.txt"
        bed.run(["sc", "create", "CryptoCheck", "binPath=",
                 wb.OSCHECK + " crypto service " + out], check=True)
        try:
            bed.run(["sc", "start", "CryptoCheck"], timeout=30)
            path = bed.host_path(out)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and not (path.exists() and path.read_bytes().endswith(b"\n")
                                                      and b"adapter" in path.read_bytes()):
                time.sleep(0.1)
            as_service = self.attempts(path.read_text().splitlines())
        finally:
            bed.run(["sc", "delete", "CryptoCheck"])
        as_process = self.attempts(check("containers"))
        def shown(attempts):
            return ", ".join("%s %s 0x%08X" % (name, "ok" if ok else "failed", error)
                             for name, (ok, error) in attempts.items())
        print("\nkey containers as a service: %s\nkey containers as a process: %s"
              % (shown(as_service), shown(as_process)), file=sys.stderr)
        for attempts in (as_service, as_process):
            self.assertEqual(attempts["adapter"], (True, 0))
            self.assertEqual(attempts["verifycontext"], (True, 0))
            self.assertEqual(attempts["default-after-newkeyset"], (True, 0))
            self.assertFalse(attempts["default-after-delete"][0])


class SignatureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = bed.tmp_dir / "signing"
        unsigned = bed.bin_dir / "oscheck.exe"
        cert, key = signing.make_certificate(PUBLISHER, work)
        cls.signed = bed.copy_in(signing.sign_exe(unsigned, work / "signed.exe", cert, key),
                                 wb.TOOLS_DIR)
        # The simple display name is the CN, whatever the organization says.
        cert, key = signing.make_certificate("MERIDEX CO., LTD.", work, organization="Someone Else")
        cls.meridex = bed.copy_in(signing.sign_exe(unsigned, work / "meridex.exe", cert, key),
                                  wb.TOOLS_DIR)
        cls.unsigned = wb.OSCHECK

    def test_signer_names_of_signed_and_unsigned_files(self):
        self.assertEqual(answer("signer", self.signed), ["signer", "1", "0x00000000", PUBLISHER, PUBLISHER])
        self.assertEqual(answer("signer", self.meridex)[3:], ["MERIDEX CO., LTD."] * 2)
        for path in (self.unsigned, wb.TOOLS_DIR + "\\missing.exe"):
            with self.subTest(path=path):
                ok, error, issuer, subject = answer("signer", path)[1:]
                self.assertEqual((ok, issuer, subject), ("0", "", ""))
                self.assertNotEqual(int(error, 16), 0)

    def test_trust_answers_are_recorded(self):
        for label, path in (("self-signed", self.signed), ("unsigned", self.unsigned)):
            trusted, error, issuer, subject = answer("trust", path)[1:]
            print("\nWinVerifyTrust under Wine, %s file: trusted %s, result %s, signer %r" %
                  (label, trusted, error, subject), file=sys.stderr)
            self.assertIn(trusted, ("0", "1"))
            self.assertEqual(trusted == "1", int(error, 16) == 0)
            # Names only from a signer the verification accepted.
            self.assertEqual(subject != "", trusted == "1")

    def test_private_folder_is_made_read_back_and_removed(self):
        folder = "C:\\windows\\temp\\ORVCHECK_PRIVATE"
        made, owner, sddl, inside, removed = answer("private", folder)[1:]
        print("\nPrivate folder under Wine: owner %s\n  folder %s\n  file in it %s" % (owner, sddl, inside),
              file=sys.stderr)
        self.assertEqual(int(made, 16), 0)
        # Wine derives what it shows from the Unix mode bits: the owner is the prefix's user (the
        # account the check runs as), BA reads as that user, no protection flag, Everyone may
        # read a file inside. It enforces none of it.
        self.assertIn(owner, ("system", "administrators", "self"))
        self.assertIn("(A;OICI;FA;;;SY)", sddl)
        self.assertEqual(int(removed, 16), 0)
        self.assertFalse((bed.prefix / "drive_c" / "windows" / "temp" / "ORVCHECK_PRIVATE").exists())


if __name__ == "__main__":
    unittest.main()
