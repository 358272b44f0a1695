// The RAID mode monitor: the maker's RAID setup tool logging a change of the array's operating
// mode (Application log, provider "ArraySetup", event 1111), reported once per record as event
// 3020.
//
// Only the newest record counts. Its creation time (a FILETIME) is kept in `RaidChangeLow` and
// `RaidChangeHigh` (HKLM SOFTWARE\ORVANE\ORVSVC\NAS): a record found while both are missing is
// stored without an event; once a pass has found no record, both are 0, so the first record
// written later is reported.
#pragma once

#include <string_view>

#include "model/event_queue.h"
#include "os/os_ports.h"

namespace orv {

inline constexpr std::string_view kRaidChangeLow = "RaidChangeLow";
inline constexpr std::string_view kRaidChangeHigh = "RaidChangeHigh";
inline constexpr std::string_view kRaidModeLogChannel = "Application";
inline constexpr std::string_view kRaidModeRecords =
    "*[System[(EventID=1111 and Provider[@Name=\"ArraySetup\"])]]";

class RaidModeMonitor {
 public:
  RaidModeMonitor(const os::OsPorts& os, EventQueue& queue);

  // One event step: reads the newest mode-change record; when its time differs from the stored
  // one (and one was stored), posts 3020 with the record's first data string. Stores the
  // record's time; stores 0 and 0 when both values are still missing at the end. A query that
  // fails or finds nothing posts nothing.
  void Check();

 private:
  os::OsPorts os_;
  EventQueue& queue_;
};

}  // namespace orv
