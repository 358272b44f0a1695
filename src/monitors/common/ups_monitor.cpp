#include "monitors/common/ups_monitor.h"

#include <cstdio>

#include "model/act_ids.h"
#include "monitors/common/condition_tracker.h"
#include "platform/agent_registry.h"
#include "platform/json_escape.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

std::string Quoted(std::string_view text) {
  std::string token(1, '"');
  token.append(EscapeJson(text));
  token.push_back('"');
  return token;
}

const ConditionOpening kConnectionLost{act_id::kUpsConnectionLost, "1", "UPS", "UPSとの通信が切断されました。",
                                       "通信が切断しています。"};
const ConditionOpening kDegraded{act_id::kUpsDegraded, "1", "UPS", "UPSの劣化を検出しました。", "劣化を検出しました"};

ConditionClosing ClosingOf(const MonitorState& entry, std::string message) {
  return {entry.act_para, std::move(message)};
}

}  // namespace

UpsSnapshot UpsMonitor::SnapshotOf(const UPSCtrl_APC& reading, bool& abnormal) {
  UpsSnapshot snapshot;
  snapshot.name = "\"UPS\"";
  snapshot.readOk = reading.readOk;
  abnormal = false;
  if (reading.readOk == 0) return snapshot;

  snapshot.vnd = Quoted(reading.vendor);
  snapshot.model = Quoted(reading.model);
  snapshot.fwv = Quoted(reading.firmware);
  snapshot.serial = Quoted(reading.serial);

  // A FAT-style packed date: year since 1980 in bits 9-15, month in bits 5-8. Years from 2100
  // on keep two digits, as the member's format promises.
  const std::uint32_t month = (reading.manufactureDate & 0x1E0u) >> 5;
  const std::uint32_t year = ((reading.manufactureDate & 0xFE00u) >> 9) + 1980u;
  char date[16];
  std::snprintf(date, sizeof date, "\"%02u/%02u\"", year % 100u, month);
  snapshot.prd_date = date;

  // Some units count in tenths of a percent; computed unsigned, so no reading can wrap.
  const std::uint32_t level = reading.remainingCapacity > 100u ? reading.remainingCapacity / 10u : reading.remainingCapacity;
  snapshot.bt_lev = static_cast<std::int32_t>(level);  // at most 429496729
  snapshot.bt_time = std::to_string(reading.runTime / 3600u);
  snapshot.bt_sec = std::to_string(reading.runTime);

  const char* status = "充電完了";
  if ((reading.status1 & 0x08u) == 0) {
    status = "未接続";
    abnormal = true;
  } else if ((reading.status2 & 0x02u) != 0) {
    status = "劣化";
    abnormal = true;
  } else if ((reading.status1 & 0x90u) != 0) {
    status = "残量低下";
    abnormal = true;
  } else if ((reading.status1 & 0x02u) != 0) {
    status = "放電中";
  } else if ((reading.status1 & 0x01u) != 0) {
    status = "充電中";
  }
  snapshot.bt_sts = Quoted(status);
  snapshot.connect = Quoted(reading.connection);
  return snapshot;
}

void UpsMonitor::Check(UpsSnapshot& snapshot, MonitorState& connection, MonitorState& degradation) {
  const ConditionTracker tracker(queue_, clock_);
  const bool switchedOff =
      RegHandle::GetDword(registry_, os::RegistryRoot::LocalMachine, kStatusKey, "UPSCheckStop") == 1u;
  if (switchedOff) {
    tracker.Track(connection, false, kConnectionLost,
                  ClosingOf(connection, "UPSの監視が解除されました。UPSとの通信切断検知を解除します。"));
    tracker.Track(degradation, false, kDegraded,
                  ClosingOf(degradation, "UPSの監視が解除されました。UPSの劣化検知を解除します。"));
    snapshot = UpsSnapshot{};
    if (memory_ != nullptr) *memory_ = {};
    return;
  }

  if (memory_ != nullptr) {
    // Walking the HID listing costs the system far more than the rest of the pass; after a walk
    // without a UPS nothing can be found until a device comes. A pass that trusts the last walk
    // is that walk's outcome again: the snapshot already empty, no condition to change.
    const bool mayHaveChanged = hid_.InterfacesMayHaveChanged();  // asked first: a change during the walk counts
    if (memory_->noUpsListed && !mayHaveChanged && ++memory_->passesSinceWalk < kWalkAtLeastEvery) return;
  }
  UPSCtrl_APC reading(hid_);
  const bool searched = reading.ReadUps();
  if (memory_ != nullptr) *memory_ = {searched && reading.found == 0, 0};
  if (reading.found == 0 && !searched) {
    // A device list that could not be walked, or a UPS that would not open, tells nothing of
    // the connection: a UPS known until now stays, unread, and no condition changes.
    if (!snapshot.name.empty()) {
      reading.readOk = 0;
      bool abnormal = false;
      snapshot = SnapshotOf(reading, abnormal);
    }
    return;
  }
  if (reading.found == 0) {
    if (!snapshot.name.empty()) {
      tracker.Track(connection, true, kConnectionLost, {});
      snapshot = UpsSnapshot{};
    }
    return;
  }

  bool abnormal = false;
  snapshot = SnapshotOf(reading, abnormal);
  if (reading.readOk == 0) return;
  tracker.Track(connection, false, kConnectionLost, ClosingOf(connection, "UPSとの通信が回復しました。"));
  tracker.Track(degradation, abnormal, kDegraded, ClosingOf(degradation, "UPSの状態が回復しました。"));
}

}  // namespace orv
