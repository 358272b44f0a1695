// Performance counters in memory, computed the way PDH computes them: objects hold named
// instances in the system's order, each with counter values the test sets; a query samples
// them on Collect. A rate counter ("/sec", "% ... Time") has a value only when its instance
// was in the query's last two samples, as PDH needs two raw samples for a rate; any other
// counter has the value of the last sample. Paths are English; the fake knows no other names.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/performance_counters.h"

namespace orv::fakes {

// What PDH answers in the cases the fake plays.
inline constexpr os::OsError kPdhNoInstance = 0x800007D1;     // PDH_CSTATUS_NO_INSTANCE
inline constexpr os::OsError kPdhNoData = 0x800007D5;         // PDH_NO_DATA: a query without counters
inline constexpr os::OsError kPdhNegativeValue = 0x800007D8;  // PDH_CALC_NEGATIVE_VALUE
inline constexpr os::OsError kPdhNoObject = 0xC0000BB8;       // PDH_CSTATUS_NO_OBJECT
inline constexpr os::OsError kPdhNoCounter = 0xC0000BB9;      // PDH_CSTATUS_NO_COUNTER
inline constexpr os::OsError kPdhInvalidData = 0xC0000BBA;    // PDH_CSTATUS_INVALID_DATA
inline constexpr os::OsError kPdhInvalidHandle = 0xC0000BBC;  // PDH_INVALID_HANDLE
inline constexpr os::OsError kPdhBadCounterName = 0xC0000BC0; // PDH_CSTATUS_BAD_COUNTERNAME
inline constexpr os::OsError kPdhAccessDenied = 0xC0000BDB;   // PDH_ACCESS_DENIED

class FakePerformanceCounters final : public os::PerformanceCounters {
 public:
  os::OsError OpenQuery(std::unique_ptr<os::CounterQuery>& query) override;

  // Sets `counter` of `instance` of `object` (an empty instance for an object that has none),
  // adding the instance at the end of the object's list when it is new.
  void Set(std::string_view object, std::string_view instance, std::string_view counter, std::int32_t value);
  // The instance is gone, with all its counters; the object and its counter names stay known.
  void Remove(std::string_view object, std::string_view instance);

  // Each step fails with its code while the code is set.
  struct Failures {
    os::OsError open = os::kSuccess;
    os::OsError collect = os::kSuccess;
    std::map<std::string, os::OsError> add;   // by the path as added
    std::map<std::string, os::OsError> item;  // by instance path "\Object(instance)\Counter": no value
  };
  Failures failures;
  // Runs before each sample is taken, so a test can set what the sample will read.
  std::function<void()> beforeCollect;

  int openQueries() const { return openQueries_; }

 private:
  friend class FakeCounterQuery;

  struct Instance {
    std::string name;
    std::map<std::string, std::int32_t, std::less<>> values;  // by counter name
  };
  struct Object {
    std::vector<Instance> instances;  // in the system's order
    std::vector<std::string> counters;  // every counter name ever set
  };

  std::map<std::string, Object, std::less<>> objects_;
  int openQueries_ = 0;
};

}  // namespace orv::fakes
