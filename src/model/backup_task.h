// BackupTask: one task of the maker's backup product, as the backup monitor follows it.
#pragma once

#include <cstdint>
#include <string>

#include "os/clock.h"

namespace orv {

struct BackupTask {
  std::string name;
  std::string key;            // the task's registry subkey; after its first ":" the task number
  std::uint32_t result = 0;   // 0 none yet, 1 completed, 2 failed, 3 stopped
  os::CalendarTime lastSuccess;  // year 0: unset
  os::CalendarTime lastResult;
  std::uint32_t busy = 0;
  os::CalendarTime t1010;
  os::CalendarTime t1011;
  os::CalendarTime t1012;
  os::CalendarTime t3010;
};

}  // namespace orv
