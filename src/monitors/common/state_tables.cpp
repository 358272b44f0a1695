#include "monitors/common/state_tables.h"

#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr RegHandle::Root kRoot = RegHandle::Root::LocalMachine;

template <TableRows Rows>
bool ReadRows(os::Registry& registry, const StateTable<Rows>& table,
              std::vector<std::string>& rows) {
  return RegHandle::GetMultiString(registry, kRoot, table.key, table.value, rows);
}

// The value is gone afterwards, or was never there (a missing key holds no value either).
template <TableRows Rows>
bool Remove(os::Registry& registry, const StateTable<Rows>& table) {
  return RegHandle::DeleteValue(registry, kRoot, table.key, table.value) ||
         !RegHandle::ValueExists(registry, kRoot, table.key, table.value);
}

template <TableRows Rows>
bool ReplaceRows(os::Registry& registry, const StateTable<Rows>& table,
                 const std::vector<std::string>& rows) {
  const bool removed = Remove(registry, table);
  if (rows.empty()) return removed;
  return RegHandle::SetMultiString(registry, kRoot, table.key, table.value, rows);
}

}  // namespace

bool LoadSingle(os::Registry& registry, const SingleStateTable& table, MonitorState& entry) {
  std::string row;
  if (!RegHandle::GetString(registry, kRoot, table.key, table.value, row)) return false;
  ParseStateRow(row, entry);
  return true;
}

bool LoadList(os::Registry& registry, const StateListTable& table,
              std::vector<MonitorState>& list) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows)) return false;
  for (const std::string& row : rows) ParseStateRow(row, list.emplace_back());
  return true;
}

bool LoadList(os::Registry& registry, const PairListTable& table, std::vector<TextPair>& list) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows)) return false;
  for (const std::string& row : rows) {
    TextPair& pair = list.emplace_back();
    ParsePairRow(row, pair.first, pair.second);
  }
  return true;
}

bool LoadList(os::Registry& registry, const FiveTextListTable& table,
              std::vector<FiveTexts>& list) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows)) return false;
  for (const std::string& row : rows) ParseFiveTextRow(row, list.emplace_back());
  return true;
}

bool SaveSingle(os::Registry& registry, const SingleStateTable& table, const MonitorState& entry) {
  const bool removed = Remove(registry, table);
  if (entry.act_sts == MonitorState::kNoneOpen) return removed;
  return RegHandle::SetString(registry, kRoot, table.key, table.value, FormatStateRow(entry));
}

bool SaveList(os::Registry& registry, const StateListTable& table,
              const std::vector<MonitorState>& list) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const MonitorState& entry : list) rows.push_back(FormatStateRow(entry));
  return ReplaceRows(registry, table, rows);
}

bool SaveList(os::Registry& registry, const PairListTable& table,
              const std::vector<TextPair>& list) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const TextPair& pair : list) rows.push_back(FormatPairRow(pair.first, pair.second));
  return ReplaceRows(registry, table, rows);
}

bool SaveList(os::Registry& registry, const FiveTextListTable& table,
              const std::vector<FiveTexts>& list) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const FiveTexts& texts : list) rows.push_back(FormatFiveTextRow(texts));
  return ReplaceRows(registry, table, rows);
}

}  // namespace orv
