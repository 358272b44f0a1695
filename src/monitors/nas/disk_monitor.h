// DiskMonitor: the bays of the NAS pass and the disks in them.
//
// Each pass it lays the disks the storage layout found into the bays (an empty bay keeps a
// placeholder), and reports a bay whose disk dropped out and its return, a disk replaced by
// another one (the bay's remembered serial number differs), a disk that runs too hot, and a
// change of the SMART attributes that foretell a failure between two passes of the same disk.
// The serial memory and the open conditions live in the registry, so a restart neither
// repeats nor loses them; the SMART comparison starts afresh with each agent start.
//
// A disk busy for one pass can fail to give its serial number or its SMART data: such a
// reading is no reading. The bay keeps its remembered serial, and SMART values are compared
// with the last complete reading of the same disk, so neither a false replacement nor a lost
// change comes of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/disk_info.h"
#include "model/monitor_state.h"
#include "monitors/common/condition_tracker.h"
#include "monitors/common/state_tables.h"
#include "os/os_ports.h"

namespace orv {

inline constexpr std::uint32_t kDefaultHddTempThreshold = 60;

// One remembered bay: the port mask of its slot (0 when the stored slot text names none) and
// the serial number of the disk last seen there.
struct RememberedSerial {
  std::uint32_t portMask = 0;
  std::string serialNumber;
};

// With `stored`, HDDSerialInfo is read into it and written only when it changed.
std::vector<RememberedSerial> LoadSerialMemory(os::Registry& registry, StoredTables* stored = nullptr);
void SaveSerialMemory(os::Registry& registry, const std::vector<RememberedSerial>& memory,
                      StoredTables* stored = nullptr);

class DiskMonitor {
 public:
  DiskMonitor(const os::OsPorts& os, EventQueue& queue, bool meridexBrand, std::uint32_t modelFlags);

  // One pass over `found` (the disks the layout lists, any order; disks outside the bays are
  // ignored). `layoutRead` false: the layout could not be read, so an empty bay is not taken
  // for a disk that dropped out; nor is a bay the platform's map cannot place a disk in (the
  // first pass logs which). Fills `current` in slot order; updates both tables.
  void Check(const std::vector<DiskInfo>& found, bool layoutRead, std::vector<DiskInfo>& current,
             std::vector<MonitorState>& dropOuts, std::vector<MonitorState>& hotDisks);

 private:
  void CheckBays(const std::vector<DiskInfo>& found, bool layoutRead, std::vector<DiskInfo>& current,
                 std::vector<MonitorState>& dropOuts) const;
  // Names, once, the bays whose disks the platform's map cannot place: their drop-out is not
  // watched, since they would look empty at every pass.
  void LogUnwatchedBays() const;
  void CheckReplacement(const std::vector<DiskInfo>& current);
  void CheckTemperature(const DiskInfo& disk, std::uint32_t threshold, std::vector<MonitorState>& hotDisks) const;
  void CompareSmart(const DiskInfo& now, const DiskInfo& before) const;
  void CompareWithLastReading(const DiskInfo& disk);

  os::OsPorts os_;
  EventQueue& queue_;
  ConditionTracker tracker_;
  bool meridexBrand_;
  std::uint32_t modelFlags_;
  StoredTables stored_;  // what HDDSerialInfo holds
  std::vector<RememberedSerial> serials_;
  bool unwatchedBaysLogged_ = false;
  // Per bay, the last reading of a disk with both its serial number and its SMART data;
  // empty before the first.
  std::vector<DiskInfo> lastReadings_;
};

}  // namespace orv
