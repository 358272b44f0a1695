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

// `kind`: 1 periodic (averages over the samples), 2 after events or a power event, 3 test.
// `power`: 1 running, 2 shutting down, 3 going to sleep.
void AppendStatusMessage(const StatusHeader& header, int kind, int power,
                         const CommonStatusData& common, const NasStatusData& nas,
                         std::string& body);

}  // namespace orv
