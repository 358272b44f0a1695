"""Wine tier: the storage layout's adapters (oscheck.exe) on a real Win32 implementation.

Wine registers no Virtual Disk Service loader, so the enumeration must fail with
REGDB_E_CLASSNOTREG at once, not after the 10 s readiness bound, and hand back an empty
snapshot. Free space and the file system name of C:\\ are real. The encryption product's query
library is played by query_standin.dll: loaded from an absolute path it answers, a bare name or
a relative path is refused even where the search path would find it, and unloading ends its
answers. What real disks and volumes look like to the layout is host-tested against the fake.

Needs ORVSVC_BIN_DIR holding oscheck.exe and query_standin.dll (and optionally
ORVSVC_BUILD_DIR for the prefix).
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

REGDB_E_CLASSNOTREG = "0x80040154"
ERROR_MOD_NOT_FOUND = "126"
ERROR_INVALID_PARAMETER = "87"
QUERY_UNAVAILABLE = "5"
UNTOUCHED = str(0xFFFFFFFF)
# The stand-in's one volume and its drive number.
KNOWN_VOLUME = "{6F1D2C3B-5A49-4E87-9D10-0123456789AB}"
KNOWN_DRIVE_NUMBER = "7"
# A failing load must not come near the readiness bound (50 polls, 10 s).
VDS_FAILURE_BOUND_MS = 2000

LIBRARY = "query_standin.dll"
LIBRARY_DIR = wb.TOOLS_DIR + "\\lib"
JAPANESE_DIR = wb.TOOLS_DIR + "\\暗号化ライブラリ"

bed = None


def setUpModule():
    global bed
    # The library also sits beside oscheck.exe, where a search-path load would find it.
    bed = wb.module_bed("layout", {"oscheck.exe": wb.TOOLS_DIR, LIBRARY: wb.TOOLS_DIR})
    for folder in (LIBRARY_DIR, JAPANESE_DIR):
        bed.copy_in(bed.bin_dir / LIBRARY, folder)


def tearDownModule():
    if bed is not None:
        bed.close()


def check(*args):
    """[[tag, fields...], ...] as oscheck layout printed them, and the run's wall time."""
    result = bed.run([wb.OSCHECK, "layout"] + list(args), timeout=60, check=True)
    lines = [line.split("\t") for line in result.out.replace("\r\n", "\n").splitlines()]
    sys.stderr.write("\n%s (%.2f s): %r\n" % (" ".join(args), result.seconds, lines))
    return lines, result.seconds


class VirtualDiskServiceTest(unittest.TestCase):
    def test_a_missing_loader_fails_at_once_with_an_empty_snapshot(self):
        lines, seconds = check("vds")
        self.assertEqual(len(lines), 1, lines)
        tag, ok, error, ms, disks, volumes, letters = lines[0]
        self.assertEqual((tag, ok, error), ("vds", "0", REGDB_E_CLASSNOTREG))
        self.assertEqual((disks, volumes, letters), ("0", "0", "0"))
        self.assertLess(int(ms), VDS_FAILURE_BOUND_MS)
        self.assertLess(seconds, 10)


class VolumeQueriesTest(unittest.TestCase):
    def test_the_system_drive_has_space_and_ntfs(self):
        lines, _ = check("volume", "C:\\")
        space, file_system = lines
        self.assertEqual(space[:3], ["space", "1", "0"])
        free_to_caller, total, total_free = map(int, space[3:])
        self.assertGreater(total, 0)
        self.assertGreater(total_free, 0)
        self.assertLessEqual(total_free, total)
        self.assertLessEqual(free_to_caller, total_free)
        self.assertEqual(file_system, ["filesystem", "1", "0", "NTFS"])

    def test_a_drive_that_is_not_there_fails_with_a_code_and_no_name(self):
        space, file_system = check("volume", "Q:\\")[0]
        self.assertEqual(space[:2], ["space", "0"])
        self.assertNotEqual(space[2], "0")
        self.assertEqual(space[3:], ["0", "0", "0"])  # untouched
        self.assertEqual(file_system[:2], ["filesystem", "0"])
        self.assertNotEqual(file_system[2], "0")
        self.assertEqual(file_system[3:], [""])


class EncryptionLibraryTest(unittest.TestCase):
    def run_library(self, path, volume=KNOWN_VOLUME):
        lines, _ = check("encryption", path, volume)
        return {line[0]: line[1:] for line in lines}

    def test_an_absolute_path_loads_answers_and_unloads(self):
        for folder in (LIBRARY_DIR, JAPANESE_DIR):
            with self.subTest(folder=folder):
                lines = self.run_library(folder + "\\" + LIBRARY)
                self.assertEqual(lines["load"], ["0", "1"])
                self.assertEqual(lines["query"], ["0", KNOWN_DRIVE_NUMBER])
                self.assertEqual(lines["reload"], ["0"])
                self.assertEqual(lines["unload"], ["0"])
                self.assertEqual(lines["after_unload"], [QUERY_UNAVAILABLE])

    def test_the_library_answer_for_an_unknown_volume_passes_through(self):
        lines = self.run_library(LIBRARY_DIR + "\\" + LIBRARY, "{00000000-0000-0000-0000-000000000000}")
        self.assertEqual(lines["query"], ["1", UNTOUCHED])

    def test_only_an_absolute_local_path_is_loaded(self):
        refused = (LIBRARY, ".\\" + LIBRARY, "lib\\" + LIBRARY, "C:" + LIBRARY, "\\testbed\\" + LIBRARY,
                   "\\\\127.0.0.1\\c$\\testbed\\" + LIBRARY, "C:/testbed/lib/" + LIBRARY, "")
        for path in refused:
            with self.subTest(path=path):
                lines = self.run_library(path)
                self.assertEqual(lines["load"], [ERROR_INVALID_PARAMETER, "0"])
                self.assertEqual(lines["query"], [QUERY_UNAVAILABLE, UNTOUCHED])
                self.assertNotIn("reload", lines)

    def test_a_missing_library_is_not_loaded(self):
        lines = self.run_library(LIBRARY_DIR + "\\missing.dll")
        self.assertEqual(lines["load"], [ERROR_MOD_NOT_FOUND, "0"])
        self.assertEqual(lines["query"], [QUERY_UNAVAILABLE, UNTOUCHED])


if __name__ == "__main__":
    unittest.main()
