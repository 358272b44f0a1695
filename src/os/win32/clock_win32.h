// Wall clock and tick count over the Win32 time functions (Windows only).
#pragma once

#include "os/clock.h"

namespace orv::win32 {

class Win32Clock final : public os::Clock {
 public:
  os::CalendarTime LocalNow() override;
  os::CalendarTime UtcNow() override;
  std::uint64_t MillisecondsSinceStart() override;
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace orv::win32
