// Wall clock, milliseconds since system start, and sleeping.
#pragma once

#include <cstdint>

namespace orv::os {

// The calendar fields of SYSTEMTIME; dayOfWeek 0 is Sunday.
struct CalendarTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual CalendarTime LocalNow() = 0;
  virtual CalendarTime UtcNow() = 0;
  virtual std::uint64_t MillisecondsSinceStart() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace orv::os
