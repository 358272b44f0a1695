#include "monitors/common/driver_monitor.h"

#include <algorithm>
#include <cstdio>

#include "model/act_ids.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {

constexpr std::string_view kStorageControllers = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
constexpr std::string_view kIdeControllers = "{4D36E96A-E325-11CE-BFC1-08002BE10318}";
constexpr std::string_view kNetworkAdapters = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;

}  // namespace

std::string DriverVersionText(std::uint64_t version) {
  char text[24];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(version >> 48 & 0xFFFF),
                static_cast<unsigned>(version >> 32 & 0xFFFF), static_cast<unsigned>(version >> 16 & 0xFFFF),
                static_cast<unsigned>(version & 0xFFFF));
  return text;
}

bool EnumDrivers(os::DeviceInstallation& devices, std::string_view classGuid,
                 std::vector<DeviceDriverEntry>& list, os::OsError& error) {
  list.clear();
  std::vector<os::PresentDevice> present;
  if (!devices.PresentDevices(classGuid, present, error)) return false;
  for (const os::PresentDevice& device : present) {
    if (device.driverListError != os::kSuccess) {
      error = device.driverListError;
      continue;
    }
    DeviceDriverEntry entry{device.name, 0, 0};
    for (const os::CompatibleDriver& driver : device.drivers) {
      // Dates compare at whole seconds; of drivers with the same date the first listed wins.
      const std::uint64_t date = driver.date / kFileTimeUnitsPerSecond;
      if (entry.date < date) {
        entry.date = date;
        entry.version = driver.version;
      }
    }
    list.push_back(std::move(entry));
  }
  return true;
}

DriverMonitor::DriverMonitor(const os::OsPorts& os, const AgentEventLog& log, EventQueue& queue)
    : os_(os), log_(log), queue_(queue) {
  (void)LoadList(os.registry, kLANInfo, lanInfo_, &stored_);
  (void)LoadList(os.registry, kSATAInfo, sataInfo_, &stored_);
  (void)LoadList(os.registry, kIDEInfo, ideInfo_, &stored_);
}

void DriverMonitor::Check(const std::vector<AdapterEntry>& adapters) {
  CheckClass(kStorageControllers, sataInfo_, nullptr);
  CheckClass(kIdeControllers, ideInfo_, nullptr);
  CheckClass(kNetworkAdapters, lanInfo_, &adapters);
  (void)SaveList(os_.registry, kLANInfo, lanInfo_, &stored_);
  (void)SaveList(os_.registry, kSATAInfo, sataInfo_, &stored_);
  (void)SaveList(os_.registry, kIDEInfo, ideInfo_, &stored_);
}

void DriverMonitor::CheckClass(std::string_view classGuid, std::vector<TextPair>& table,
                               const std::vector<AdapterEntry>* onlyPorts) {
  std::vector<DeviceDriverEntry> devices;
  os::OsError error = os::kSuccess;
  if (!EnumDrivers(os_.devices, classGuid, devices, error)) {
    log_.Error(event_id::kDriverInfoFailed, "ドライバ情報の取得に失敗しました。");
  }
  // One comparison per stored name and check: devices that share a name (two identical
  // controllers on different drivers) would otherwise move the row back and forth and report
  // an update every check. The highest version stands for them all, so a row still names one
  // version as earlier agents read it. Names compare as the row stores them.
  struct Seen {
    std::string stored;  // the name as its row keeps it
    const DeviceDriverEntry* device;
  };
  std::vector<Seen> seen;
  for (const DeviceDriverEntry& device : devices) {
    if (onlyPorts != nullptr && std::none_of(onlyPorts->begin(), onlyPorts->end(), [&](const AdapterEntry& port) {
          return port.description == device.name;
        })) {
      continue;  // virtual and disconnected network devices are not the appliance's ports
    }
    std::string stored = RowText(device.name);
    const auto same = std::find_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.stored == stored; });
    if (same == seen.end()) {
      seen.push_back({std::move(stored), &device});
    } else if (same->device->version < device.version) {
      same->device = &device;
    }
  }
  for (const Seen& s : seen) {
    const DeviceDriverEntry& device = *s.device;
    const std::string version = DriverVersionText(device.version);
    bool known = false;
    for (TextPair& entry : table) {
      if (entry.first != s.stored) continue;
      known = true;
      if (entry.second == version) continue;
      AgentEvent event(act_id::kDriverUpdated, os_.clock);
      event.act_para = device.name + "," + version;
      event.msg = "「" + device.name + " Ver " + entry.second + "」が「Ver " + version + "」に更新されました。";
      queue_.Post(event);
      entry.second = version;
    }
    if (!known) table.emplace_back(s.stored, version);
  }
}

}  // namespace orv
