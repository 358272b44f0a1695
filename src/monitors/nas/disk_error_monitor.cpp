#include "monitors/nas/disk_error_monitor.h"

#include "model/act_ids.h"
#include "model/model_flags.h"

namespace orv {
namespace {

constexpr std::uint16_t kDiskErrorId = 7;
constexpr std::string_view kChannel = "System";
constexpr std::string_view kQuery = R"(*[System[EventID=7 and (Provider[@Name="disk"] or Provider[@Name="Disk"])]])";

std::string Between(std::string_view message, std::string_view open, std::string_view close, bool keepOpen) {
  const std::size_t at = message.find(open);
  if (at == std::string_view::npos) return {};
  const std::size_t start = keepOpen ? at : at + open.size();
  const std::size_t end = message.find(close, at + open.size());
  if (end == std::string_view::npos) return {};
  return std::string(message.substr(start, end - start));
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "PhysicalDrive1" must not find "PhysicalDrive10": the number ends where the digits do.
bool NamesDrive(std::string_view deviceName, std::string_view number) {
  const std::string drive = "PhysicalDrive" + std::string(number);
  for (std::size_t at = deviceName.find(drive); at != std::string_view::npos; at = deviceName.find(drive, at + 1)) {
    const std::size_t after = at + drive.size();
    if (after == deviceName.size() || !IsDigit(deviceName[after])) return true;
  }
  return false;
}

}  // namespace

DiskErrorNames DiskErrorNamesIn(std::string_view message) {
  return {Between(message, "Harddisk", "\\", false), Between(message, "DR", " に", true)};
}

AgentEvent DiskErrorEvent(std::string_view message, const std::vector<DiskInfo>& disks, std::uint32_t modelFlags,
                          os::Clock& clock) {
  const DiskErrorNames names = DiskErrorNamesIn(message);
  AgentEvent event(act_id::kDiskError, clock);
  if ((modelFlags & model::kBoardSeries) != 0) {
    event.act_para = "," + names.deviceText + ",0";
    event.msg = "HDDエラー（故障ディスクの確認方法は製品のユーザーズマニュアルをご参照ください）";
    return event;
  }
  std::string number;
  // Without a disk number no disk is named: an empty number would match every device.
  bool numeric = !names.diskText.empty();
  for (const char c : names.diskText) numeric = numeric && IsDigit(c);
  if (numeric) {
    for (const DiskInfo& disk : disks) {
      if (disk.present != 0 && NamesDrive(disk.deviceName, names.diskText)) {
        number = std::to_string(disk.number);
        break;
      }
    }
  }
  event.act_para = number + "," + names.deviceText + ",0";
  event.msg = "「HDD" + number + "」エラー";
  return event;
}

DiskErrorMonitor::DiskErrorMonitor(const os::OsPorts& os, EventQueue& queue, std::uint32_t modelFlags)
    : os_(os), queue_(queue), modelFlags_(modelFlags), log_(os.eventLogStore) {
  log_.BookmarkNewest(kChannel, kQuery);
}

void DiskErrorMonitor::Check(const std::vector<DiskInfo>& disks) {
  (void)log_.ReadSinceBookmark(kChannel, kQuery, [&](const EventLog::FetchedEntry& fetched) {
    const os::EventSystemProperties& system = fetched.system;
    if (fetched.renderError == os::kSuccess && (system.providerName == "disk" || system.providerName == "Disk") &&
        system.eventId == kDiskErrorId) {
      // A message that cannot be formatted names no disk; the error is still reported.
      std::string message;
      (void)log_.FormatEventMessage(fetched.entry.get(), system.providerName, message);
      AgentEvent event = DiskErrorEvent(message, disks, modelFlags_, os_.clock);
      event.source = system.providerName;
      event.sourceEventId = system.eventId;
      queue_.Post(event);
    }
  });
}

}  // namespace orv
