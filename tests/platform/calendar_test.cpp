#include "platform/calendar.h"

#include <gtest/gtest.h>

#include <tuple>

namespace orv {
namespace {

TEST(Calendar, RoundTripsAcrossMonthYearAndLeapDayBoundaries) {
  for (const os::CalendarTime time : {os::CalendarTime{2024, 2, 4, 29, 23, 59, 59, 999},
                                      os::CalendarTime{2026, 12, 4, 31, 22, 0, 0, 0},
                                      os::CalendarTime{2100, 3, 1, 1, 0, 0, 0, 0},
                                      os::CalendarTime{1969, 12, 3, 31, 12, 30, 0, 5}}) {
    const auto fields = [](const os::CalendarTime& t) {
      return std::tuple{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds};
    };
    EXPECT_EQ(fields(FromCalendarMilliseconds(ToCalendarMilliseconds(time))), fields(time));
  }
  const os::CalendarTime afterLeapDay = FromCalendarMilliseconds(ToCalendarMilliseconds({2028, 2, 0, 29, 22, 0, 0, 0}) + 86'400'000);
  EXPECT_EQ(std::tuple(afterLeapDay.month, afterLeapDay.day, afterLeapDay.hour), std::tuple(3, 1, 22));
}

}  // namespace
}  // namespace orv
