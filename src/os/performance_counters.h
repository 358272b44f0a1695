// The system's performance counters: a query of counters sampled together, read as whole
// numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

// A counter of one query, as AddEnglishCounter numbers them.
using CounterId = std::uint32_t;

// One instance of a counter whose path names every instance ("*").
struct CounterItem {
  std::string instance;      // as the system names it ("_Total" included)
  OsError status = kSuccess;  // why the item has no value; 0 when `value` holds one
  std::int32_t value = 0;
};

class CounterQuery {
 public:
  virtual ~CounterQuery() = default;

  // Adds the counter at `path`, written in English ("\Object(instance)\Counter", "*" for every
  // instance, "\Object\Counter" for an object without instances) whatever the system's
  // language. The counter's id, or the error with `id` unchanged.
  virtual OsError AddEnglishCounter(std::string_view path, CounterId& id) = 0;
  // Takes one sample of every counter of the query. A rate counter has its first value after
  // the second sample.
  virtual OsError Collect() = 0;
  // Every instance of a "*" counter in the system's order as of the last sample; an instance
  // whose value cannot be had is still listed, with its status. The error and no items when
  // the counter has no sample at all.
  virtual OsError ReadArray(CounterId id, std::vector<CounterItem>& items) = 0;
  // The value of a counter of one instance as of the last sample; the error with `value`
  // unchanged when it has none.
  virtual OsError ReadValue(CounterId id, std::int32_t& value) = 0;
};

class PerformanceCounters {
 public:
  virtual ~PerformanceCounters() = default;
  // Opens a query on the local machine; destroying it closes it with all its counters. The
  // error with `query` left empty on failure.
  virtual OsError OpenQuery(std::unique_ptr<CounterQuery>& query) = 0;
};

}  // namespace orv::os
