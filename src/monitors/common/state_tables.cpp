#include "monitors/common/state_tables.h"

#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr RegHandle::Root kRoot = RegHandle::Root::LocalMachine;

std::string StoredName(std::string_view key, std::string_view value) {
  std::string name(key);
  name += '\\';
  name += value;
  return name;
}

// The value is gone afterwards, or was never there (a missing key holds no value either).
template <TableRows Rows>
bool Remove(os::Registry& registry, const StateTable<Rows>& table) {
  return RegHandle::DeleteValue(registry, kRoot, table.key, table.value) ||
         !RegHandle::ValueExists(registry, kRoot, table.key, table.value);
}

// Stores `rows` as the table's value: one write, or the value removed when there are none.
template <TableRows Rows>
bool Store(os::Registry& registry, const StateTable<Rows>& table, std::vector<std::string> rows,
           StoredTables* stored) {
  if (stored != nullptr) {
    if (const std::vector<std::string>* known = stored->Rows(table.key, table.value); known != nullptr && *known == rows) {
      return true;
    }
  }
  bool done = false;
  if (rows.empty()) {
    done = Remove(registry, table);
  } else if constexpr (Rows == TableRows::SingleState) {
    done = RegHandle::SetString(registry, kRoot, table.key, table.value, rows.front());
  } else {
    done = RegHandle::SetMultiString(registry, kRoot, table.key, table.value, rows);
  }
  if (stored != nullptr) {
    if (done) {
      stored->Know(table.key, table.value, std::move(rows));
    } else {
      stored->Forget(table.key, table.value);
    }
  }
  return done;
}

template <TableRows Rows>
bool ReadRows(os::Registry& registry, const StateTable<Rows>& table, std::vector<std::string>& rows,
              StoredTables* stored) {
  bool read = false;
  if constexpr (Rows == TableRows::SingleState) {
    std::string row;
    read = RegHandle::GetString(registry, kRoot, table.key, table.value, row);
    if (read) rows.push_back(std::move(row));
  } else {
    read = RegHandle::GetMultiString(registry, kRoot, table.key, table.value, rows);
  }
  // A table that could not be read stays unknown: the value may be there all the same.
  if (read && stored != nullptr) stored->Know(table.key, table.value, rows);
  return read;
}

}  // namespace

const std::vector<std::string>* StoredTables::Rows(std::string_view key, std::string_view value) const {
  const auto it = rows_.find(StoredName(key, value));
  return it == rows_.end() ? nullptr : &it->second;
}

void StoredTables::Know(std::string_view key, std::string_view value, std::vector<std::string> rows) {
  rows_[StoredName(key, value)] = std::move(rows);
}

void StoredTables::Forget(std::string_view key, std::string_view value) { rows_.erase(StoredName(key, value)); }

bool LoadSingle(os::Registry& registry, const SingleStateTable& table, MonitorState& entry, StoredTables* stored) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows, stored)) return false;
  ParseStateRow(rows.front(), entry);
  return true;
}

bool LoadList(os::Registry& registry, const StateListTable& table, std::vector<MonitorState>& list,
              StoredTables* stored) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows, stored)) return false;
  for (const std::string& row : rows) ParseStateRow(row, list.emplace_back());
  return true;
}

bool LoadList(os::Registry& registry, const PairListTable& table, std::vector<TextPair>& list, StoredTables* stored) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows, stored)) return false;
  for (const std::string& row : rows) {
    TextPair& pair = list.emplace_back();
    ParsePairRow(row, pair.first, pair.second);
  }
  return true;
}

bool LoadList(os::Registry& registry, const FiveTextListTable& table, std::vector<FiveTexts>& list,
              StoredTables* stored) {
  std::vector<std::string> rows;
  if (!ReadRows(registry, table, rows, stored)) return false;
  for (const std::string& row : rows) ParseFiveTextRow(row, list.emplace_back());
  return true;
}

bool SaveSingle(os::Registry& registry, const SingleStateTable& table, const MonitorState& entry,
                StoredTables* stored) {
  std::vector<std::string> rows;
  if (entry.act_sts != MonitorState::kNoneOpen) rows.push_back(FormatStateRow(entry));
  return Store(registry, table, std::move(rows), stored);
}

bool SaveList(os::Registry& registry, const StateListTable& table, const std::vector<MonitorState>& list,
              StoredTables* stored) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const MonitorState& entry : list) rows.push_back(FormatStateRow(entry));
  return Store(registry, table, std::move(rows), stored);
}

bool SaveList(os::Registry& registry, const PairListTable& table, const std::vector<TextPair>& list,
              StoredTables* stored) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const TextPair& pair : list) rows.push_back(FormatPairRow(pair.first, pair.second));
  return Store(registry, table, std::move(rows), stored);
}

bool SaveList(os::Registry& registry, const FiveTextListTable& table, const std::vector<FiveTexts>& list,
              StoredTables* stored) {
  std::vector<std::string> rows;
  rows.reserve(list.size());
  for (const FiveTexts& texts : list) rows.push_back(FormatFiveTextRow(texts));
  return Store(registry, table, std::move(rows), stored);
}

}  // namespace orv
