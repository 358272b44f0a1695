// MonitorState: one open condition of one monitored item, and the bracketed rows in which the
// monitors keep such conditions (and a few lists of plain texts) across restarts.
//
// A row is a run of fields, each written "[text]", numbers in signed decimal. Reading keeps
// the agent's long-standing lenient rule, so rows written by earlier agents and by hand still
// load: missing fields read as 0 or empty, text outside the brackets is ignored, and nothing a
// row holds can make a read fail.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

struct MonitorState {
  // act_sts values; the events a condition posts carry the same numbers.
  static constexpr std::int32_t kNoneOpen = 0;
  static constexpr std::int32_t kOpen = 1;
  static constexpr std::int32_t kRebuildRunning = 2;
  static constexpr std::int32_t kClosed = 3;

  std::int32_t act_id = 0;
  std::int32_t act_sts = kNoneOpen;
  std::string act_trg;   // a bare JSON token, in practice a decimal number
  std::string act_para;  // the opening event's values
  std::string msg;       // shown in the status message while the condition is open
  std::string item_key;  // disk name, drive letter...; empty where a monitor has one item
  std::int32_t item_number = 0;  // display number of the item; never saved
  std::int32_t item_code = 0;    // numeric key such as a bay port mask; 0 where none

  bool operator==(const MonitorState&) const = default;
};

using FiveTexts = std::array<std::string, 5>;

// `text` as a row field keeps it and reads it back: "]" becomes "］" (U+FF3D), NULs are
// dropped, everything else stays; never fails.
std::string RowText(std::string_view text);

// "[act_id][act_sts][act_trg][act_para][msg][item_key][item_code]"; never fails.
std::string FormatStateRow(const MonitorState& entry);
// Fills the seven saved fields (item_number keeps its value); never fails.
void ParseStateRow(std::string_view row, MonitorState& entry);

// "[a][b]"; never fails.
std::string FormatPairRow(std::string_view a, std::string_view b);
// Fills both texts; never fails.
void ParsePairRow(std::string_view row, std::string& a, std::string& b);

// "[t0][t1][t2][t3][t4]"; never fails.
std::string FormatFiveTextRow(const FiveTexts& texts);
// Fills all five texts; never fails.
void ParseFiveTextRow(std::string_view row, FiveTexts& texts);

}  // namespace orv
