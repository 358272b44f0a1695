"""Wine tier: orvdiag.exe prints, byte for byte, what the host build's orvdiag prints for every
dump of a real disk (../shared/testdata/ata-smart): the same portable code built by another
compiler and run on another C runtime, where a difference in text mode, wide arguments, file
opening or number formatting would show. What the output must be is host-tested.

The host binary is ORVDIAG_HOST_BIN (the windows preset passes the host preset's
build/host/bin/orvdiag); without it the test is skipped. The dumps are ORV_ATA_TESTDATA_DIR
(default: the folder beside the project) and must be there.
"""

import os
import subprocess
import sys
import unittest
from pathlib import Path

HERE = Path(__file__).resolve()
sys.path.insert(0, str(HERE.parents[1]))

import winebed as wb  # noqa: E402

DUMP_DIR = Path(os.environ.get("ORV_ATA_TESTDATA_DIR") or HERE.parents[4] / "shared" / "testdata" / "ata-smart")
HOST_BIN = os.environ.get("ORVDIAG_HOST_BIN", "")
EXE = wb.TOOLS_DIR + "\\orvdiag.exe"

bed = None


def setUpModule():
    global bed
    if not (HOST_BIN and os.access(HOST_BIN, os.X_OK)):
        raise unittest.SkipTest("no host orvdiag to compare with (ORVDIAG_HOST_BIN=%r): build the host preset" % HOST_BIN)
    if not DUMP_DIR.is_dir():
        raise RuntimeError("the dumps of real disks are missing: %s" % DUMP_DIR)
    bed = wb.module_bed("orvdiag", {"orvdiag.exe": wb.TOOLS_DIR})
    unittest.addModuleCleanup(bed.close)


class OrvdiagTest(unittest.TestCase):
    def test_every_dump_prints_as_the_host_build_prints_it(self):
        names = sorted(p.name for p in DUMP_DIR.iterdir() if p.is_file() and p.name != "README.md")
        self.assertEqual(len(names), 19, DUMP_DIR)
        # The first again through a path with Japanese characters.
        copy = bed.copy_in(DUMP_DIR / names[0], wb.TOOLS_DIR + "\\ディスク", "ダンプ.bin")
        for name, path in [(n, bed.windows_path(DUMP_DIR / n)) for n in names] + [(names[0], copy)]:
            with self.subTest(path=path):
                host = subprocess.run([HOST_BIN, "hd", str(DUMP_DIR / name)], capture_output=True, timeout=60)
                result = bed.run([EXE, "hd", path], timeout=60)
                self.assertEqual((result.returncode, result.stderr, result.stdout, host.returncode, host.stderr,
                                  host.stdout.lstrip()[:1]), (0, b"", host.stdout, 0, b"", b"{"))


if __name__ == "__main__":
    unittest.main()
