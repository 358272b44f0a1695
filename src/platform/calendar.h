// Calendar arithmetic on wall-clock times, independent of any time zone.
//
// The agent's clocks ("22:00 plus an offset", "the start of the hour") are defined on local
// calendar fields, so they are computed on a plain count of milliseconds since 1970-01-01
// 00:00 of the same, unzoned calendar.
#pragma once

#include <cstdint>

#include "os/clock.h"

namespace orv {

std::int64_t ToCalendarMilliseconds(const os::CalendarTime& time);
os::CalendarTime FromCalendarMilliseconds(std::int64_t milliseconds);

}  // namespace orv

namespace orv {

// FILETIME arithmetic: 100-nanosecond units since 1601-01-01, here of the same calendar.
inline constexpr std::int64_t kFileTimeUnitsPerMillisecond = 10'000;
inline constexpr std::int64_t kMillisecondsFrom1601To1970 = 11'644'473'600'000;

std::uint64_t ToFileTime(const os::CalendarTime& time);
os::CalendarTime FromFileTime(std::uint64_t fileTime);

}  // namespace orv
