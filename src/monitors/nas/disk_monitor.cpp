#include "monitors/nas/disk_monitor.h"

#include <algorithm>
#include <array>

#include "model/act_ids.h"
#include "monitors/common/state_tables.h"
#include "monitors/nas/bay_tables.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/port_map.h"
#include "monitors/nas/smart_attributes.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_event_log.h"
#include "platform/agent_registry.h"
#include "platform/formatted_text.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::uint32_t kTemperatureRecoveryMargin = 5;
constexpr std::uint8_t kAttributePendingSectors = 197;

// The attributes that foretell a failure, with the id text the events carry, in report order.
struct WatchedAttribute {
  std::uint8_t id;
  const char* text;
};
constexpr std::array<WatchedAttribute, 8> kWatched = {{{1, "01"},
                                                       {5, "05"},
                                                       {7, "07"},
                                                       {196, "C4"},
                                                       {197, "C5"},
                                                       {198, "C6"},
                                                       {199, "C7"},
                                                       {200, "C8"}}};

// A stored slot text "0" to "11" names its bay; anything else no bay.
std::uint32_t MaskOfSlotFormatText(const std::string& text) {
  for (std::uint32_t slot = 0; slot < kBaySlotCount; ++slot) {
    if (text == std::to_string(slot)) return SlotMask(slot);
  }
  return 0;
}

std::string SlotTextOfMask(std::uint32_t mask) {
  for (std::uint32_t slot = 0; slot < kBaySlotCount; ++slot) {
    if (SlotMask(slot) == mask) return std::to_string(slot);
  }
  return "-1";
}

}  // namespace

std::vector<RememberedSerial> LoadSerialMemory(os::Registry& registry, StoredTables* stored) {
  std::vector<TextPair> rows;
  (void)LoadList(registry, kHDDSerialInfo, rows, stored);
  std::vector<RememberedSerial> memory;
  memory.reserve(rows.size());
  for (const TextPair& row : rows) memory.push_back({MaskOfSlotFormatText(row.first), row.second});
  return memory;
}

void SaveSerialMemory(os::Registry& registry, const std::vector<RememberedSerial>& memory, StoredTables* stored) {
  std::vector<TextPair> rows;
  rows.reserve(memory.size());
  for (const RememberedSerial& entry : memory) rows.emplace_back(SlotTextOfMask(entry.portMask), entry.serialNumber);
  (void)SaveList(registry, kHDDSerialInfo, rows, stored);
}

DiskMonitor::DiskMonitor(const os::OsPorts& os, EventQueue& queue, bool meridexBrand, std::uint32_t modelFlags)
    : os_(os), queue_(queue), tracker_(queue, os.clock), meridexBrand_(meridexBrand), modelFlags_(modelFlags),
      serials_(LoadSerialMemory(os.registry, &stored_)) {}

void DiskMonitor::Check(const std::vector<DiskInfo>& found, bool layoutRead, std::vector<DiskInfo>& current,
                        std::vector<MonitorState>& dropOuts, std::vector<MonitorState>& hotDisks) {
  if (!unwatchedBaysLogged_) {
    LogUnwatchedBays();
    unwatchedBaysLogged_ = true;
  }
  current.clear();
  CheckBays(found, layoutRead, current, dropOuts);
  CheckReplacement(current);

  const RegHandle settings(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  const std::uint32_t threshold = settings.GetDwordOr("HDDTempThreshold", kDefaultHddTempThreshold);
  for (const DiskInfo& disk : current) {
    if (disk.present == 0 || disk.mediaType != kMediaTypeFixed || disk.smartValid != 1) continue;
    CheckTemperature(disk, threshold, hotDisks);
    CompareWithLastReading(disk);
  }
}

void DiskMonitor::CompareWithLastReading(const DiskInfo& disk) {
  // Without its serial number the disk cannot be told from another one in the same bay.
  if (disk.serialNumber.empty()) return;
  const auto last = std::find_if(lastReadings_.begin(), lastReadings_.end(),
                                 [&](const DiskInfo& before) { return before.portMask == disk.portMask; });
  if (last == lastReadings_.end()) {
    lastReadings_.push_back(disk);
    return;
  }
  if (last->serialNumber == disk.serialNumber) CompareSmart(disk, *last);
  *last = disk;
}

void DiskMonitor::LogUnwatchedBays() const {
  const std::uint32_t bays = BayCount(CodesOf(modelFlags_).bayCode);
  const std::uint32_t addressed = AddressedBays(modelFlags_);
  std::string names;
  for (std::uint32_t slot = 0; slot < bays; ++slot) {
    if ((addressed & SlotMask(slot)) != 0) continue;
    if (!names.empty()) names += ',';
    names += BayName(SlotMask(slot), meridexBrand_, modelFlags_);
  }
  if (names.empty()) return;
  AgentEventLog(os_.eventReporter, os_.system)
      .Warning(event_id::kBaysNotWatched, "ディスクの位置を識別できないベイは切り離しを監視しません。\n[" + names + "]");
}

void DiskMonitor::CheckBays(const std::vector<DiskInfo>& found, bool layoutRead, std::vector<DiskInfo>& current,
                            std::vector<MonitorState>& dropOuts) const {
  const std::uint32_t bays = BayCount(CodesOf(modelFlags_).bayCode);
  const std::uint32_t addressed = AddressedBays(modelFlags_);
  for (std::uint32_t slot = 0; slot < bays; ++slot) {
    const std::uint32_t mask = SlotMask(slot);
    const std::int32_t number = BayNumber(mask, meridexBrand_);
    const std::string name = BayName(mask, meridexBrand_, modelFlags_);
    const ConditionItem item{name, static_cast<std::int32_t>(mask), number};
    bool occupied = false;
    for (const DiskInfo& disk : found) {
      if (disk.portMask != mask) continue;
      occupied = true;
      current.push_back(disk);
    }
    if (occupied) {
      // Whatever disk is back, the bay is no longer empty; a different disk is a replacement too.
      (void)tracker_.Track(dropOuts, ItemMatch::ByCode, item, false, {},
                           {"", FormatText("HDD%dの状態が回復しました。", number)});
      continue;
    }
    DiskInfo placeholder;
    placeholder.name = name;
    placeholder.number = number;
    placeholder.slotIndex = slot;
    placeholder.portMask = mask;
    current.push_back(std::move(placeholder));
    // A bay the map cannot place a disk in looks empty whatever it holds.
    if (!layoutRead || (addressed & mask) == 0) continue;
    const ConditionOpening opening{act_id::kDiskDropOut, std::to_string(slot), FormatText("%d,1", number),
                                   FormatText("HDD%dがボリューム構成から切り離されました。", number),
                                   "ボリューム構成から切り離されています。"};
    (void)tracker_.Track(dropOuts, ItemMatch::ByCode, item, true, opening, {});
  }
}

void DiskMonitor::CheckReplacement(const std::vector<DiskInfo>& current) {
  for (const DiskInfo& disk : current) {
    // A serial number that could not be read this pass says nothing about the disk.
    if (disk.present == 0 || disk.serialNumber.empty()) continue;
    const auto remembered = std::find_if(serials_.begin(), serials_.end(),
                                         [&](const RememberedSerial& entry) { return entry.portMask == disk.portMask; });
    if (remembered == serials_.end()) {
      serials_.push_back({disk.portMask, disk.serialNumber});
      continue;
    }
    if (remembered->serialNumber == disk.serialNumber) continue;
    AgentEvent event(act_id::kDiskReplaced, os_.clock);
    event.act_para = std::to_string(disk.number);
    event.msg = FormatText("HDD%dの交換を検出しました。", disk.number);
    queue_.Post(event);
    remembered->serialNumber = disk.serialNumber;
  }
  SaveSerialMemory(os_.registry, serials_, &stored_);
}

void DiskMonitor::CheckTemperature(const DiskInfo& disk, std::uint32_t threshold,
                                   std::vector<MonitorState>& hotDisks) const {
  const std::uint32_t celsius = disk.temperature;
  const std::uint32_t limit = threshold > kTemperatureRecoveryMargin ? threshold - kTemperatureRecoveryMargin : threshold;
  const bool hot = celsius >= threshold;
  if (!hot && celsius >= limit) return;  // between the limit and the threshold: as it was
  const ConditionItem item{disk.name, static_cast<std::int32_t>(disk.portMask), disk.number};
  const std::string values = FormatText("%d,%u,%u", disk.number, celsius, threshold);
  const ConditionOpening opening{act_id::kDiskTemperature, std::to_string(disk.slotIndex), values,
                                 FormatText("HDD%dの温度異常を検出しました。(%u℃)", disk.number, celsius),
                                 FormatText("温度が異常です(%u℃)。", celsius)};
  const ConditionClosing closing{values, FormatText("HDD%dの温度が回復しました。", disk.number)};
  (void)tracker_.Track(hotDisks, ItemMatch::ByCode, item, hot, opening, closing);
}

void DiskMonitor::CompareSmart(const DiskInfo& now, const DiskInfo& before) const {
  for (const WatchedAttribute& attribute : kWatched) {
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    std::uint64_t rawBefore = 0;
    std::uint64_t valueBefore = 0;
    if (!FindSmartAttribute(now.smartData, attribute.id, raw, value, now.friendlyName) ||
        !FindSmartAttribute(before.smartData, attribute.id, rawBefore, valueBefore, before.friendlyName) ||
        value == valueBefore) {
      continue;
    }
    std::uint8_t currentByte = 0;
    (void)SmartCurrentValue(now.smartData, attribute.id, currentByte);
    const auto rawNumber = static_cast<unsigned long long>(raw);
    AgentEvent event(act_id::kSmartChanged, os_.clock);
    event.act_trg = std::to_string(now.slotIndex);
    event.act_para = FormatText("%d,%s,%u,%u,%s,%u,%012llX", now.number, now.serialNumber.c_str(), now.powerOnHours,
                          now.powerCycleCount, attribute.text, unsigned{currentByte}, rawNumber);
    event.msg = FormatText("HDD%dのSMART値に変化を検出しました(ID%s=%012llX)。", now.number, attribute.text, rawNumber);
    queue_.Post(event);
    if (attribute.id == kAttributePendingSectors && value > 0) {
      event.act_id = act_id::kSmartAttention;
      event.msg = FormatText("HDD%dのSMART値に注意が必要な変化を検出しました(ID%s=%012llX)。", now.number, attribute.text,
                       rawNumber);
      queue_.Post(event);
    }
  }
}

}  // namespace orv
