// Event-log reporting port: one entry with one insertion string under a named source.
#pragma once

#include <cstdint>
#include <string_view>

#include "os/os_error.h"

namespace orv::os {

// The event log's own type numbers.
enum class EventKind : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

class EventReporter {
 public:
  virtual ~EventReporter() = default;

  // Writes one Application log entry (category 0) with `text` as its only insertion string;
  // the error when the source could not be registered or the entry not written.
  virtual OsError Report(std::string_view source, EventKind kind, std::uint32_t eventId,
                         std::string_view text) = 0;
};

}  // namespace orv::os
