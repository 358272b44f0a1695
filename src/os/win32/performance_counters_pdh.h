// Performance counters through the performance data helper, PDH (Windows only).
#pragma once

#include "os/performance_counters.h"

namespace orv::win32 {

class PdhPerformanceCounters final : public os::PerformanceCounters {
 public:
  os::OsError OpenQuery(std::unique_ptr<os::CounterQuery>& query) override;
};

}  // namespace orv::win32
