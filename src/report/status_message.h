// The body of a status message: the whole picture of the appliance in a fixed member order.
#pragma once

#include <cstdint>
#include <string>

#include "model/common_status_data.h"
#include "model/nas_status_data.h"
#include "os/clock.h"

namespace orv {

// What the status message says about the appliance itself.
struct StatusHeader {
  std::string devId;
  os::CalendarTime now;
  std::string msName;
  std::string msVer;
  std::string agtName;
  std::string agtVer;
  std::uint64_t millisecondsSinceStart = 0;
  std::uint32_t modelFlags = 0;
  std::string boardSerial;
  std::string firmware;
  std::string hostName;
  std::int32_t networkGroupType = 0;
};

// Which status a message is: periodic (averages over the samples), after events or a power
// event, or a test; numbered as the Web API's kinds.
enum class StatusKind : int { Periodic = 1, AfterEvents = 2, Test = 3 };
// The appliance's power state the status reports.
enum class PowerState : int { Running = 1, ShuttingDown = 2, Sleeping = 3 };

void AppendStatusMessage(const StatusHeader& header, StatusKind kind, PowerState power,
                         const CommonStatusData& common, const NasStatusData& nas,
                         std::string& body);

// One entry of the message's "hd" array on its own, from its opening brace line to its closing
// one, byte for byte as AppendStatusMessage writes it for `disk` (a disk diagnosis shows it).
std::string DiskEntryText(const DiskInfo& disk, StatusKind kind, const CommonStatusData& common,
                          const NasStatusData& nas);

}  // namespace orv
