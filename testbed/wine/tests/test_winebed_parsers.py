"""The text formats the wine tier reads back: Wine's event-log debug lines and
.reg files. Everything the lifecycle tests conclude about event texts and
registry values passes through these parsers, so they are checked here
against output captured from Wine 8 itself. No Wine needed."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402


class WineStringDecodingTest(unittest.TestCase):
    def test_japanese_comes_back_from_four_digit_escapes(self):
        self.assertEqual(
            wb.decode_wine_string(r"Orvane\30a8\30fc\30b8\30a7\30f3\30c8\3002"),
            "Orvaneエージェント。",
        )

    def test_letter_escapes_and_backslash(self):
        self.assertEqual(wb.decode_wine_string(r'a\r\nb\t\"q\" 100% \\ x'),
                         'a\r\nb\t"q" 100% \\ x')

    def test_control_characters_and_del_use_four_digits(self):
        self.assertEqual(wb.decode_wine_string(r"ctl\0001:\0001 del:\007f"),
                         "ctl\x01:\x01 del:\x7f")

    def test_surrogate_pair_becomes_one_character(self):
        self.assertEqual(wb.decode_wine_string(r"\d83d\de00"), "\U0001F600")

    def test_escape_wine_never_writes_is_an_error_not_silent_text(self):
        for body in (r"\x41", "\\", r"\12"):
            with self.subTest(body=body):
                with self.assertRaises(ValueError):
                    wb.decode_wine_string(body)


# Captured from the probe service under WINEDEBUG=-all,+eventlog,fixme+advapi,+pid.
CAPTURE = r'''00c0:00d0:trace:eventlog:ServiceMain starting Event Log Service
0134:0144:fixme:advapi:RegisterEventSourceW ((null),L"ORVSVC"): stub
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x4000044c,0000000000000000,0x0001,0x00000000,0000000001B1FBE0,0000000000000000): stub
0134:0144:trace:eventlog:ReportEventW L"Orvane\30a8\30fc\30b8\30a7\30f3\30c8\30b5\30fc\30d3\30b9\304c\958b\59cb\3057\307e\3057\305f\3002"
0134:0144:fixme:advapi:DeregisterEventSource (00000000CAFE4242) stub
0134:0144:fixme:advapi:RegisterEventSourceW ((null),L"ORVSVC"): stub
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0002,0x0000,0x80000003,0000000000000000,0x0002,0x00000000,0000000001B1FBE0,0000000000000000): stub
0134:0144:warn:eventlog:ReportEventW L"\8b66\544a\30c6\30b9\30c8 \65e5\672c\8a9e"
0134:0144:warn:eventlog:ReportEventW L"second string"
0134:0144:fixme:advapi:RegisterEventSourceW ((null),L"Orvane\30a8\30fc\30b8\30a7\30f3\30c8\30b5\30fc\30d3\30b9"): stub
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0001,0x0000,0x00000000,0000000000000000,0x0001,0x00000000,0000000001B1FBE0,0000000000000000): stub
0134:0144:err:eventlog:ReportEventW L"RegisterDeviceNotification failed: \30c6\30b9\30c8"
0134:0144:fixme:advapi:RegisterEventSourceW ((null),L"ORVSVC"): stub
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x40000008,0000000000000000,0x0002,0x00000000,000000000181FBF0,0000000000000000): stub
0134:0144:trace:eventlog:ReportEventW L""
0134:0144:trace:eventlog:ReportEventW L"after-empty"
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x40000009,0000000000000000,0x0000,0x00000000,0000000000000000,0000000000000000): stub
0134:0144:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x40000006,0000000000000000,0x0001,0x00000000,000000000181FBD0,0000000000000000): stub
0134:0144:trace:eventlog:ReportEventW L"\65e5\672c\65e5\672c"...
'''


class EventLogParsingTest(unittest.TestCase):
    def setUp(self):
        self.entries = wb.parse_event_log(CAPTURE)

    def test_each_report_becomes_one_entry_in_order(self):
        self.assertEqual([e.event_id for e in self.entries],
                         [0x4000044C, 0x80000003, 0x00000000, 0x40000008, 0x40000009, 0x40000006])

    def test_type_id_source_and_text_of_an_information_entry(self):
        e = self.entries[0]
        self.assertEqual((e.type_name, e.event_id, e.source, e.pid),
                         ("information", 0x4000044C, "ORVSVC", 0x134))
        self.assertEqual(e.strings, ["Orvaneエージェントサービスが開始しました。"])
        self.assertFalse(e.truncated)

    def test_all_insertion_strings_stay_with_their_entry(self):
        self.assertEqual(self.entries[1].type_name, "warning")
        self.assertEqual(self.entries[1].strings, ["警告テスト 日本語", "second string"])
        self.assertEqual(self.entries[3].strings, ["", "after-empty"])
        self.assertEqual(self.entries[4].strings, [])

    def test_source_follows_the_last_registration_on_the_thread(self):
        self.assertEqual(self.entries[2].source, "Orvaneエージェントサービス")
        self.assertEqual(self.entries[2].type_name, "error")
        self.assertEqual(self.entries[3].source, "ORVSVC")

    def test_cut_string_is_marked_truncated(self):
        self.assertTrue(self.entries[5].truncated)
        self.assertEqual(self.entries[5].strings, ["日本日本"])

    def test_interleaved_threads_do_not_mix_strings(self):
        text = "\n".join([
            '0001:0010:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x00000001,0,0x0001,0,0,0): stub',
            '0001:0020:fixme:advapi:ReportEventW (00000000CAFE4242,0x0001,0x0000,0x00000002,0,0x0001,0,0,0): stub',
            '0001:0020:err:eventlog:ReportEventW L"from 20"',
            '0001:0010:trace:eventlog:ReportEventW L"from 10"',
        ])
        entries = wb.parse_event_log(text)
        self.assertEqual([(e.event_id, e.strings) for e in entries],
                         [(1, ["from 10"]), (2, ["from 20"])])

    def test_without_header_lines_string_lines_become_entries_typed_by_class(self):
        text = '0030:err:eventlog:ReportEventW L"boom"\n0030:trace:eventlog:ReportEventW L"ok"\n'
        entries = wb.parse_event_log(text)
        self.assertEqual([(e.type_name, e.event_id, e.strings) for e in entries],
                         [("error", None, ["boom"]), ("information", None, ["ok"])])


# `reg export` output of Wine 8, decoded from UTF-16LE.
EXPORT = (
    "\ufeffWindows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest]\r\n"
    '@="default"\r\n'
    '"Bin"=hex:01,02,ff\r\n'
    '"Exp"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\\\r\n'
    "  25,00,5c,00,78,00,00,00\r\n"
    '"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n'
    '"Name日本"="テスト\\"q\\\\x"\r\n'
    '"Q"=hex(b):89,67,45,23,01,00,00,00\r\n'
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest\\Sub]\r\n"
    '"D"=dword:0000003c\r\n'
    "\r\n"
)


class RegFileParsingTest(unittest.TestCase):
    def test_wine_export_reads_back_every_type(self):
        keys = wb.parse_reg_file(EXPORT)
        self.assertEqual(list(keys), ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest",
                                      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest\\Sub"])
        v = keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest"]
        self.assertEqual(v[""], wb.RegValue(wb.REG_SZ, "default"))
        self.assertEqual(v["Bin"], wb.RegValue(wb.REG_BINARY, b"\x01\x02\xff"))
        self.assertEqual(v["Exp"], wb.RegValue(wb.REG_EXPAND_SZ, "%SystemRoot%\\x"))
        self.assertEqual(v["Multi"], wb.RegValue(wb.REG_MULTI_SZ, ["a", "b"]))
        self.assertEqual(v["Name日本"], wb.RegValue(wb.REG_SZ, 'テスト"q\\x'))
        self.assertEqual(v["Q"], wb.RegValue(wb.REG_QWORD, 0x123456789))
        self.assertEqual(keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvtest\\Sub"]["D"],
                         wb.RegValue(wb.REG_DWORD, 60))

    def test_unreadable_line_is_an_error(self):
        for bad in ('[HKEY_LOCAL_MACHINE\\X]\r\n"a"=weird:1\r\n', '"a"="outside a key"\r\n'):
            with self.subTest(bad=bad):
                with self.assertRaises(ValueError):
                    wb.parse_reg_file(bad)


class RegFileBuildingTest(unittest.TestCase):
    def test_values_survive_a_round_trip(self):
        values = {
            "": "dflt",
            "S": 'テスト "q" \\x',
            "Ctl": "line1\nline2",
            "D": 0xFFFFFFFF,
            "B": b"\x00\xff",
            "M": ["a", "日本"],
            "E": wb.RegValue(wb.REG_EXPAND_SZ, "%TEMP%\\x"),
            "Q": wb.RegValue(wb.REG_QWORD, 2 ** 40),
        }
        parsed = wb.parse_reg_file(wb.build_reg_file({r"HKLM\SOFTWARE\A": values}))
        got = parsed["HKEY_LOCAL_MACHINE\\SOFTWARE\\A"]
        self.assertEqual(got["S"], wb.RegValue(wb.REG_SZ, values["S"]))
        self.assertEqual(got["Ctl"], wb.RegValue(wb.REG_SZ, "line1\nline2"))
        self.assertEqual(got["D"], wb.RegValue(wb.REG_DWORD, 0xFFFFFFFF))
        self.assertEqual(got["B"], wb.RegValue(wb.REG_BINARY, b"\x00\xff"))
        self.assertEqual(got["M"], wb.RegValue(wb.REG_MULTI_SZ, ["a", "日本"]))
        self.assertEqual(got["E"], values["E"])
        self.assertEqual(got["Q"], values["Q"])
        self.assertEqual(got[""], wb.RegValue(wb.REG_SZ, "dflt"))

    def test_deletions_are_written_as_regedit_expects(self):
        text = wb.build_reg_file({r"-HKLM\SOFTWARE\Gone": {}, r"HKLM\SOFTWARE\A": {"old": None}})
        self.assertIn("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n", text)
        self.assertIn('"old"=-\r\n', text)

    def test_names_that_could_inject_entries_are_refused(self):
        bad = [
            {"HKLM\\A]\r\n[HKLM\\B": {}},
            {r"HKLM\A": {'x"=dword:1\r\n"y': "v"}},
            {r"HKLM\A": {"m": ["a", ""]}},
            {r"HKLM\A": {"d": 1 << 32}},
            {r"HKLM\A": {"flag": True}},
        ]
        for keys in bad:
            with self.subTest(keys=keys):
                with self.assertRaises((ValueError, TypeError)):
                    wb.build_reg_file(keys)


if __name__ == "__main__":
    unittest.main()
