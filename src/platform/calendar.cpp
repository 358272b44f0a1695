#include "platform/calendar.h"

namespace orv {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::int64_t ToCalendarMilliseconds(const os::CalendarTime& time) {
  const std::int64_t days = DaysFromCivil(time.year, time.month, time.day);
  return days * kMsPerDay + ((time.hour * 60LL + time.minute) * 60LL + time.second) * 1000LL +
         time.milliseconds;
}

os::CalendarTime FromCalendarMilliseconds(std::int64_t milliseconds) {
  std::int64_t days = milliseconds / kMsPerDay;
  std::int64_t rest = milliseconds % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  // Inverse of DaysFromCivil (H. Hinnant's civil_from_days).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);

  os::CalendarTime time;
  time.year = static_cast<std::uint16_t>(y);
  time.month = static_cast<std::uint16_t>(m);
  time.day = static_cast<std::uint16_t>(d);
  // 1970-01-01 was a Thursday.
  time.dayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);
  time.hour = static_cast<std::uint16_t>(rest / 3'600'000);
  time.minute = static_cast<std::uint16_t>(rest / 60'000 % 60);
  time.second = static_cast<std::uint16_t>(rest / 1000 % 60);
  time.milliseconds = static_cast<std::uint16_t>(rest % 1000);
  return time;
}

}  // namespace orv

namespace orv {

std::uint64_t ToFileTime(const os::CalendarTime& time) {
  const std::int64_t ms = ToCalendarMilliseconds(time) + kMillisecondsFrom1601To1970;
  return ms < 0 ? 0 : static_cast<std::uint64_t>(ms) * kFileTimeUnitsPerMillisecond;
}

os::CalendarTime FromFileTime(std::uint64_t fileTime) {
  const auto ms = static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerMillisecond);
  return FromCalendarMilliseconds(ms - kMillisecondsFrom1601To1970);
}

}  // namespace orv
