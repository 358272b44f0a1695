"""Wine tier: the disk readers through the real DeviceIoControl adapter (oscheck.exe).

Wine opens \\\\.\\PhysicalDrive0 but refuses SMART_RCV_DRIVE_DATA with ERROR_NOT_SUPPORTED (50),
so this proves the adapter's side of the port: the device opens and closes, a request the
driver refuses comes back as its code with the output zeroed, a disk that is not there gives
ERROR_FILE_NOT_FOUND, and a disk whose reads all fail is still listed, with empty identify texts
and SMART marked not valid. What real drives answer is host-tested against the fake and the
dumps of real disks.

Needs ORVSVC_BIN_DIR holding oscheck.exe (and optionally ORVSVC_BUILD_DIR for the prefix).
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

ERROR_FILE_NOT_FOUND = 2
ERROR_NOT_SUPPORTED = 50

bed = None


def setUpModule():
    global bed
    bed = wb.module_bed("storage", {"oscheck.exe": wb.TOOLS_DIR})


def tearDownModule():
    if bed is not None:
        bed.close()


def read_disk(device):
    """{reader: [ok, error, fields...]} as oscheck storage printed them."""
    result = bed.run([wb.OSCHECK, "storage", device], timeout=60, check=True)
    lines = {}
    for line in result.out.replace("\r\n", "\n").splitlines():
        fields = line.split("\t")
        lines[fields[0]] = fields[1:]
    sys.stderr.write("\n%s: %r\n" % (device, lines))
    return lines


class StorageDeviceTest(unittest.TestCase):
    def test_smart_requests_refused_by_the_driver_give_its_code_and_zeroed_blocks(self):
        for device in ("\\\\.\\PhysicalDrive0", "\\\\?\\PhysicalDrive0"):
            with self.subTest(device=device):
                lines = read_disk(device)
                for reader in ("identify", "smart_data", "smart_thresholds"):
                    self.assertEqual(lines[reader], ["0", str(ERROR_NOT_SUPPORTED), "1"], reader)
                ok, error = lines["sectors"][:2]
                if ok == "1":
                    self.assertIn(lines["sectors"][2], ("512", "4096"))
                else:
                    self.assertNotEqual(error, "0")
                    self.assertEqual(lines["sectors"][2:], ["0", "0"])
                self.assertEqual(lines["descriptor"][1] == "0", lines["descriptor"][0] == "1")
                # Listed all the same: a bay, no SMART, no identify texts.
                self.assertEqual(lines["disk"], ["HDD0", "0", "", "", ""])

    def test_a_disk_that_is_not_there_gives_file_not_found_everywhere(self):
        lines = read_disk("\\\\.\\PhysicalDrive97")
        for reader in ("identify", "smart_data", "smart_thresholds"):
            self.assertEqual(lines[reader], ["0", str(ERROR_FILE_NOT_FOUND), "1"], reader)
        self.assertEqual(lines["descriptor"], ["0", str(ERROR_FILE_NOT_FOUND), "", "", "", ""])
        self.assertEqual(lines["sectors"], ["0", str(ERROR_FILE_NOT_FOUND), "0", "0"])
        self.assertEqual(lines["disk"], ["HDD0", "0", "", "", ""])


if __name__ == "__main__":
    unittest.main()
