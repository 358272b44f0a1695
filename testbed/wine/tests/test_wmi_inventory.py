"""Wine tier: the hardware inventory reads through the real WMI adapter (oscheck.exe: COM
apartment, process security, WbemLocator, semi-synchronous queries with a bounded Next), and
the network group type through the real registry.

Wine's WMI has one fixed Win32_BaseBoard and one Win32_BIOS row, so the texts are checked
for shape and for agreeing with each other across the model-flag rows, not for values a real
board would give. The rules themselves (every row, last instance wins, unreachable WMI, a hung
provider) are host-tested against the fake.

Needs ORVSVC_BIN_DIR holding oscheck.exe (and optionally ORVSVC_BUILD_DIR for the prefix).
"""

import datetime
import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

LCD = 0x100000
TEMPERATURE = 0x200000
BOARD = 0x400000
ROWS = [0, LCD, TEMPERATURE, BOARD, LCD | BOARD, TEMPERATURE | BOARD, 0x8 | 0x800]
TCPIP = r"HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters"

bed = None


def setUpModule():
    global bed
    bed = wb.module_bed("wmi", {"oscheck.exe": wb.TOOLS_DIR})


def tearDownModule():
    if bed is not None:
        bed.close()


def read(*flags):
    """{flags: (connected, last result, product, serial, firmware, writes serial)} and the
    network group type, from one oscheck wmi run."""
    result = bed.run([wb.OSCHECK, "wmi"] + ["0x%X" % f for f in flags], timeout=60, check=True)
    rows, network = {}, None
    for line in result.out.replace("\r\n", "\n").splitlines():
        fields = line.split("\t")
        if fields[0] == "network":
            network = int(fields[1])
            continue
        rows[int(fields[0], 16)] = (fields[1] == "1", int(fields[2], 16), fields[3], fields[4],
                                    fields[5], fields[6] == "1")
    return rows, network


def well_formed(text):
    return text != "" and text == text.strip() and re.fullmatch(r"[\x20-\x7e]+", text) is not None


class WmiInventoryTest(unittest.TestCase):
    def test_every_row_reads_through_the_adapter(self):
        rows, _ = read(*ROWS)
        self.assertEqual(sorted(rows), sorted(ROWS))
        for flags, (connected, last, product, serial, firmware, writes) in rows.items():
            with self.subTest(flags=hex(flags)):
                self.assertTrue(connected)
                self.assertEqual(last & 0x80000000, 0, "last result 0x%08X" % last)
                self.assertTrue(well_formed(product), product)
                self.assertTrue(well_formed(serial), serial)
                self.assertTrue(well_formed(firmware), firmware)
                self.assertEqual(writes, bool(flags & BOARD))

        # No series flag: the BIOS release date as a real yyyymmdd date.
        date = rows[0][4]
        self.assertRegex(date, r"^\d{8}$")
        datetime.datetime.strptime(date, "%Y%m%d")
        self.assertEqual(rows[0x8 | 0x800][4], date)

        def firmware(f):
            return rows[f][4]

        def serial(f):
            return rows[f][3]

        # Where the table takes the same source, the texts agree.
        self.assertEqual(firmware(LCD | BOARD), firmware(LCD))
        self.assertEqual(firmware(TEMPERATURE), firmware(BOARD))
        self.assertEqual(firmware(TEMPERATURE | BOARD), firmware(BOARD))
        self.assertEqual(len({rows[f][2] for f in ROWS}), 1, "one board product")
        board_serials = {serial(f) for f in ROWS if f != BOARD}
        self.assertEqual(len(board_serials), 1, board_serials)

    def test_network_group_type_follows_the_domain(self):
        bed.reg_add(TCPIP, "Domain", "REG_SZ", "corp.example")
        self.assertEqual(read()[1], 100)
        bed.reg_add(TCPIP, "Domain", "REG_SZ", "")
        self.assertEqual(read()[1], 200)
        self.assertTrue(bed.reg_delete(TCPIP, "Domain"))
        self.assertEqual(read()[1], 0)


if __name__ == "__main__":
    unittest.main()
