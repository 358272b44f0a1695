#include "os/win32/clock_win32.h"

#include "os/win32/windows_api.h"

namespace orv::win32 {
namespace {

os::CalendarTime FromSystemTime(const SYSTEMTIME& time) {
  return {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
          time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

}  // namespace

os::CalendarTime Win32Clock::LocalNow() {
  SYSTEMTIME time{};
  ::GetLocalTime(&time);
  return FromSystemTime(time);
}

os::CalendarTime Win32Clock::UtcNow() {
  SYSTEMTIME time{};
  ::GetSystemTime(&time);
  return FromSystemTime(time);
}

std::uint64_t Win32Clock::MillisecondsSinceStart() { return ::GetTickCount64(); }

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace orv::win32
