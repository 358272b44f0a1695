"""Wine tier: the HID devices through the real adapter (oscheck.exe: SetupAPI's HID interface
list with hardware ids, each device opened overlapped, its strings, layout and input report as
bounded overlapped requests, then UPSCtrl_APC::ReadUps).

Wine 8 lists fake HID devices of its own (vendor 845E), none of the UPS maker's: the reader
must walk the whole list, end on "no more items" and find no UPS. Every request to a device
must come back within the adapter's bound (1 s, plus 2 s for a cancel).

Needs ORVSVC_BIN_DIR holding oscheck.exe (and optionally ORVSVC_BUILD_DIR for the prefix).
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

NO_MORE_ITEMS = 259
REQUEST_BOUND_MS = 3500

bed = None


def setUpModule():
    global bed
    bed = wb.module_bed("hid", {"oscheck.exe": wb.TOOLS_DIR})


def tearDownModule():
    if bed is not None:
        bed.close()


class HidDevicesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        result = bed.run([wb.OSCHECK, "hid"], timeout=120, check=True)
        cls.lines = [line.split("\t") for line in result.out.replace("\r\n", "\n").splitlines()]
        sys.stderr.write("\noscheck hid:\n" + "".join("  " + " | ".join(f) + "\n" for f in cls.lines))

    def of(self, kind):
        return [fields for fields in self.lines if fields[0] == kind]

    def test_the_list_ends_on_no_more_items_and_holds_no_ups(self):
        self.assertEqual(self.of("list"), [])
        interfaces = self.of("interface")
        self.assertTrue(interfaces)
        self.assertEqual(int(interfaces[-1][2]), NO_MORE_ITEMS)
        for fields in interfaces[:-1]:
            self.assertEqual(int(fields[2]), 0, fields)
            # Every device of Wine's has a hardware id; the first one too (its DevInst is 0).
            self.assertIn("VID_845E", fields[3])
            self.assertNotIn("VID_051D", fields[3])

    def test_the_reader_finds_no_ups_and_ends_normally(self):
        (ups,) = self.of("ups")
        self.assertEqual(ups[1:], ["1", "0", "1", str(NO_MORE_ITEMS)])

    def test_every_request_to_a_device_comes_back_within_its_bound(self):
        timed = [(f, int(f[4])) for f in self.of("string")] + [(f, int(f[3])) for f in self.of("caps")] \
            + [(f, int(f[3])) for f in self.of("input")]
        for fields, ms in timed:
            self.assertLess(ms, REQUEST_BOUND_MS, fields)


if __name__ == "__main__":
    unittest.main()
