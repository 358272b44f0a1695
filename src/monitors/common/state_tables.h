// State tables: where the monitors keep their open conditions and a few item lists across
// restarts, as registry values under HKLM in the agent's own keys.
//
// A single table is a string value holding one state row; a list table is a multi-string
// value, one row per string in list order. The row kind is part of a table's type, so a
// table can only be loaded and saved with the rows it holds. Saving deletes the value and
// writes it again only when there is something to keep, so a table never outlives the
// conditions it recorded. Keys are never created: with the key missing, saves fail quietly.
#pragma once

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

// Parses the stored row into `entry`; false, with `entry` unchanged, when no string is stored.
bool LoadSingle(os::Registry& registry, const SingleStateTable& table, MonitorState& entry);
// Appends one entry per stored row, in stored order; false, `list` unchanged, when none is stored.
bool LoadList(os::Registry& registry, const StateListTable& table, std::vector<MonitorState>& list);
bool LoadList(os::Registry& registry, const PairListTable& table, std::vector<TextPair>& list);
bool LoadList(os::Registry& registry, const FiveTextListTable& table, std::vector<FiveTexts>& list);

// Deletes the value, then writes the entry's row when its act_sts is not 0. False when the
// value could not be written or removed (missing or read-only key); nothing is logged.
bool SaveSingle(os::Registry& registry, const SingleStateTable& table, const MonitorState& entry);
// Deletes the value, then writes every entry (whatever its act_sts) when the list is not
// empty. False when the value could not be written or removed; nothing is logged.
bool SaveList(os::Registry& registry, const StateListTable& table,
              const std::vector<MonitorState>& list);
bool SaveList(os::Registry& registry, const PairListTable& table,
              const std::vector<TextPair>& list);
bool SaveList(os::Registry& registry, const FiveTextListTable& table,
              const std::vector<FiveTexts>& list);

}  // namespace orv
