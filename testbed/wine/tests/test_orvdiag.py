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


class OrvdiagTest(unittest.TestCase):
    def test_every_dump_prints_one_strict_entry_and_three_values_as_the_host_build_does(self):
        host = bool(HOST_BIN) and os.access(HOST_BIN, os.X_OK)
        if not host:
            sys.stderr.write("\nno host orvdiag to compare with (ORVDIAG_HOST_BIN=%r): build the host preset "
                             "first, or set ORVDIAG_HOST_BIN\n" % HOST_BIN)
        outputs = {}
        for name in dumps():
            with self.subTest(dump=name):
                result = outputs[name] = bed.run([EXE, "hd", bed.windows_path(DUMP_DIR / name)], timeout=60)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                text = result.stdout.decode("utf-8")  # strict: invalid UTF-8 fails here
                self.assertEqual(text.count("\n"), text.count("\r\n"))
                entry, values = text.split("temperature=")
                entry = json.loads(entry)
                self.assertTrue(entry["name"] == "HDD0" and entry["model"] and entry["smt"], entry)
                self.assertRegex(values, r"^\d+\r\npower_on_hours=\d+\r\npower_cycles=\d+\r\n$")
                if host:
                    r = subprocess.run([HOST_BIN, "hd", str(DUMP_DIR / name)], capture_output=True, timeout=60)
                    self.assertEqual((r.returncode, r.stderr, r.stdout), (0, b"", result.stdout))
        # A path with Japanese characters reads the same file.
        name = dumps()[0]
        copy = bed.copy_in(DUMP_DIR / name, wb.TOOLS_DIR + "\\ディスク", "ダンプ.bin")
        self.assertEqual(bed.run([EXE, "hd", copy], timeout=60).stdout, outputs[name].stdout)


if __name__ == "__main__":
    unittest.main()
