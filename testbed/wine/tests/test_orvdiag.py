"""Wine tier: orvdiag.exe prints, byte for byte, what the host build's orvdiag prints for every
dump of a real disk (../shared/testdata/ata-smart): the status message's "hd" entry with CR LF
line ends, then the SMART readings. The Windows program is the same portable code built by
another compiler and run on another C runtime; this is where a difference in text mode, wide
arguments, file opening or number formatting would show.

The host binary is ORVDIAG_HOST_BIN (the windows preset passes the host preset's
build/host/bin/orvdiag). Without it the comparison is skipped with a note, and what can be
checked without it still is: every output is one strict JSON object and three value lines, and
a path with Japanese characters reads the same file. Standard output is binary, so the entry's
CR LF pass unchanged.

Needs ORVSVC_BIN_DIR holding orvdiag.exe; the dumps are ORV_ATA_TESTDATA_DIR (default: the
folder beside the project) and must be there.
"""

import json
import os
import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))

import winebed as wb  # noqa: E402

PROJECT = HERE.parents[3]
DUMP_DIR = Path(os.environ.get("ORV_ATA_TESTDATA_DIR") or PROJECT.parent / "shared" / "testdata" / "ata-smart")
HOST_BIN = os.environ.get("ORVDIAG_HOST_BIN", "")
EXE = wb.TOOLS_DIR + "\\orvdiag.exe"

bed = None


def setUpModule():
    global bed
    if not DUMP_DIR.is_dir():
        raise RuntimeError("the dumps of real disks are missing: %s" % DUMP_DIR)
    bed = wb.module_bed("orvdiag", {"orvdiag.exe": wb.TOOLS_DIR})


def tearDownModule():
    if bed is not None:
        bed.close()


def dumps():
    names = sorted(p.name for p in DUMP_DIR.iterdir() if p.is_file() and p.name != "README.md")
    if len(names) != 19:
        raise AssertionError("expected 19 dumps in %s, found %d" % (DUMP_DIR, len(names)))
    return names


def run_wine(*args):
    return bed.run([EXE] + list(args), timeout=60)


def host_available():
    return bool(HOST_BIN) and os.access(HOST_BIN, os.X_OK)


def run_host(*args):
    r = subprocess.run([HOST_BIN] + list(args), stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return r.returncode, r.stdout, r.stderr


def split_report(out):
    """(entry object, [value lines]) of one report; fails on anything else."""
    text = out.decode("utf-8")  # strict: invalid UTF-8 fails here
    at = text.index("temperature=")
    entry = json.loads(text[:at])
    values = text[at:]
    assert values.endswith("\r\n"), repr(values)
    lines = values[:-2].split("\r\n")
    assert [line.split("=")[0] for line in lines] == ["temperature", "power_on_hours", "power_cycles"], lines
    assert all(line.split("=")[1].isdigit() for line in lines), lines
    return entry, lines


class OrvdiagTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.outputs = {}
        for name in dumps():
            cls.outputs[name] = run_wine("hd", bed.windows_path(DUMP_DIR / name))

    def test_every_dump_prints_the_host_builds_bytes(self):
        if not host_available():
            self.skipTest("no host orvdiag to compare with (ORVDIAG_HOST_BIN=%r): build the host preset "
                          "first, or set ORVDIAG_HOST_BIN" % HOST_BIN)
        sys.stderr.write("\ncomparing with %s\n" % HOST_BIN)
        for name, result in self.outputs.items():
            with self.subTest(dump=name):
                code, out, err = run_host("hd", str(DUMP_DIR / name))
                self.assertEqual((code, err), (0, b""))
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(result.stdout, out)

    def test_every_output_is_one_strict_entry_and_three_values(self):
        for name, result in self.outputs.items():
            with self.subTest(dump=name):
                self.assertEqual(result.returncode, 0, result.err)
                self.assertNotIn(b"\r\r\n", result.stdout)
                self.assertEqual(result.stdout.count(b"\n"), result.stdout.count(b"\r\n"))
                entry, _ = split_report(result.stdout)
                self.assertEqual(entry["name"], "HDD0")
                self.assertTrue(entry["model"])
                self.assertTrue(entry["smt"])

    def test_a_path_with_japanese_characters_reads_the_same_file(self):
        name = dumps()[0]
        folder = wb.TOOLS_DIR + "\\ディスク"
        copy = bed.copy_in(DUMP_DIR / name, folder, "ダンプ.bin")
        result = run_wine("hd", copy)
        self.assertEqual(result.returncode, 0, result.err)
        self.assertEqual(result.stdout, self.outputs[name].stdout)


if __name__ == "__main__":
    unittest.main()
