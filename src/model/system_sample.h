// SystemSample: one round's picture of the machine, as the common monitors take it and the
// status message reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/ups_snapshot.h"
#include "os/clock.h"
#include "model/adapter_entry.h"

namespace orv {

struct CounterValue {
  std::string instance;
  std::int32_t value = 0;
};

struct NetworkRate {
  std::string instance;
  std::int32_t sent = 0;
  std::int32_t received = 0;
};

// The last values of the performance counters.
struct PerformanceSnapshot {
  std::vector<CounterValue> processorLoads;  // "_Total" included
  std::vector<NetworkRate> networkRates;
  std::vector<CounterValue> diskLoads;       // "_Total" included
  std::int32_t memoryLoad = 0;               // committed bytes in use, percent
};

// Windows Server Backup, as its event log tells it; a year of 0 means no time known.
struct ServerBackupInfo {
  std::int32_t result = 0;  // 0 none known, 1 success, 2 failure
  os::CalendarTime lastBackup;
  os::CalendarTime lastResult;
};

struct SystemSample {
  PerformanceSnapshot snapshot;
  std::vector<AdapterEntry> adapters;
  ServerBackupInfo backup;
  UpsSnapshot ups;
  std::uint32_t shareConnections = 0;
  std::string windowsUpdateMessage;
};

}  // namespace orv
