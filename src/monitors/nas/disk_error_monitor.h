// DiskErrorMonitor: the disk driver's error entries (event 7 of "disk") in the System log,
// each reported with the bay of the disk it names. Only entries written after the agent
// started are read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/disk_info.h"
#include "model/event_queue.h"
#include "os/os_ports.h"
#include "platform/event_log.h"

namespace orv {

// What a driver message names: the disk number after "Harddisk" up to the next backslash,
// and the device text from "DR" up to the next " に"; each empty when its markers are missing.
struct DiskErrorNames {
  std::string diskText;
  std::string deviceText;
};
DiskErrorNames DiskErrorNamesIn(std::string_view message);

// The event of one driver message, given the pass's disk list.
AgentEvent DiskErrorEvent(std::string_view message, const std::vector<DiskInfo>& disks, std::uint32_t modelFlags,
                          os::Clock& clock);

class DiskErrorMonitor {
 public:
  DiskErrorMonitor(const os::OsPorts& os, EventQueue& queue, std::uint32_t modelFlags);

  void Check(const std::vector<DiskInfo>& disks);

 private:
  os::OsPorts os_;
  EventQueue& queue_;
  std::uint32_t modelFlags_;
  EventLog log_;
};

}  // namespace orv
