// State tables: where the monitors keep their open conditions and a few item lists across
// restarts, as registry values under HKLM in the agent's own keys.
//
// A single table is a string value holding one state row; a list table is a multi-string
// value, one row per string in list order. The row kind is part of a table's type, so a
// table can only be loaded and saved with the rows it holds. Keys are never created: with the
// key missing, saves fail quietly.
//
// Saving replaces the value with one write, so the registry always holds either the old rows
// or the new ones (a power loss between a delete and a write would lose every open condition,
// and the next start would report them all again); a table with nothing left to keep is
// deleted, so it never outlives the conditions it recorded. An owner that keeps the
// StoredTables of its tables saves only what changed: a round in which nothing changed writes
// nothing, which spares the hive a flush every round.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/monitor_state.h"
#include "os/registry.h"
#include "platform/agent_registry.h"

namespace orv {

enum class TableRows { SingleState, StateList, PairList, FiveTextList };

template <TableRows Rows>
struct StateTable {
  std::string_view key;    // under HKLM
  std::string_view value;  // the value's name
};

using SingleStateTable = StateTable<TableRows::SingleState>;
using StateListTable = StateTable<TableRows::StateList>;
using PairListTable = StateTable<TableRows::PairList>;
using FiveTextListTable = StateTable<TableRows::FiveTextList>;

using TextPair = std::pair<std::string, std::string>;

inline constexpr SingleStateTable kBackupStatusTable{kCommonKey, "BackupStatusTable"};
inline constexpr SingleStateTable kUPSConnectStatusTable{kCommonKey, "UPSConnectStatusTable"};
inline constexpr SingleStateTable kUPSDegradeStatusTable{kCommonKey, "UPSDegradeStatusTable"};
// Driver tables: device name, driver version.
inline constexpr PairListTable kLANInfo{kCommonKey, "LANInfo"};
inline constexpr PairListTable kSATAInfo{kCommonKey, "SATAInfo"};
inline constexpr PairListTable kIDEInfo{kCommonKey, "IDEInfo"};

inline constexpr SingleStateTable kCPUFanStatusTable{kNasKey, "CPUFanStatusTable"};
inline constexpr SingleStateTable kCPUTempStatusTable{kNasKey, "CPUTempStatusTable"};
inline constexpr SingleStateTable kCASEFanStatusTable{kNasKey, "CASEFanStatusTable"};
inline constexpr StateListTable kHDDTempStatusTable{kNasKey, "HDDTempStatusTable"};
inline constexpr StateListTable kHDDStaStatusTable{kNasKey, "HDDStaStatusTable"};
inline constexpr StateListTable kVolCapaStatusTable{kNasKey, "VolCapaStatusTable"};
inline constexpr StateListTable kVolStaStatusTable{kNasKey, "VolStaStatusTable"};
inline constexpr StateListTable kVaultBackupStatusTable{kNasKey, "VaultBackupStatusTable"};
// Slot index, serial number.
inline constexpr PairListTable kHDDSerialInfo{kNasKey, "HDDSerialInfo"};
inline constexpr FiveTextListTable kVaultBackupTaskInfo{kNasKey, "VaultBackupTaskInfo"};

// The rows an owner's tables hold in the registry as far as it knows: those read when it
// loaded them or last written. A table is unknown until then, and again after a save that
// failed, so its next save writes whatever the registry holds meanwhile.
class StoredTables {
 public:
  // The rows known to be stored (empty: no value); nullptr when unknown.
  const std::vector<std::string>* Rows(std::string_view key, std::string_view value) const;
  void Know(std::string_view key, std::string_view value, std::vector<std::string> rows);
  void Forget(std::string_view key, std::string_view value);

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> rows_;  // by key and value name
};

// Parses the stored row into `entry`; false, with `entry` unchanged, when no string is stored.
// With `stored`, remembers the row read.
bool LoadSingle(os::Registry& registry, const SingleStateTable& table, MonitorState& entry,
                StoredTables* stored = nullptr);
// Appends one entry per stored row, in stored order; false, `list` unchanged, when none is stored.
bool LoadList(os::Registry& registry, const StateListTable& table, std::vector<MonitorState>& list,
              StoredTables* stored = nullptr);
bool LoadList(os::Registry& registry, const PairListTable& table, std::vector<TextPair>& list,
              StoredTables* stored = nullptr);
bool LoadList(os::Registry& registry, const FiveTextListTable& table, std::vector<FiveTexts>& list,
              StoredTables* stored = nullptr);

// Writes the entry's row when its act_sts is not 0, else deletes the value. True, without a
// call, when `stored` knows the table holds just that already. False when the value could not
// be written or removed (missing or read-only key); the table is then unknown to `stored`, and
// nothing is logged.
bool SaveSingle(os::Registry& registry, const SingleStateTable& table, const MonitorState& entry,
                StoredTables* stored = nullptr);
// Writes every entry (whatever its act_sts) when the list is not empty, else deletes the value;
// otherwise as SaveSingle.
bool SaveList(os::Registry& registry, const StateListTable& table,
              const std::vector<MonitorState>& list, StoredTables* stored = nullptr);
bool SaveList(os::Registry& registry, const PairListTable& table,
              const std::vector<TextPair>& list, StoredTables* stored = nullptr);
bool SaveList(os::Registry& registry, const FiveTextListTable& table,
              const std::vector<FiveTexts>& list, StoredTables* stored = nullptr);

}  // namespace orv
