// Simulated time: it stands still until a test, a sleep or a simulated wait moves it, and
// actions scheduled for a moment run when time passes that moment.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "os/clock.h"

namespace orv::fakes {

class FakeClock final : public os::Clock {
 public:
  // Starts at `localStart` (local wall clock); UTC is local time minus `utcOffsetMinutes`.
  explicit FakeClock(const os::CalendarTime& localStart = {2026, 12, 1, 7, 9, 0, 0, 0},
                     int utcOffsetMinutes = 9 * 60);

  os::CalendarTime LocalNow() override;
  os::CalendarTime UtcNow() override;
  std::uint64_t MillisecondsSinceStart() override;
  void Sleep(std::uint32_t milliseconds) override { Advance(milliseconds); }

  // Moves time forward, running every scheduled action that falls due on the way.
  void Advance(std::uint64_t milliseconds);
  void AdvanceTo(std::uint64_t tick);
  // Runs `action` when time reaches `tick` (milliseconds since start).
  void ScheduleAt(std::uint64_t tick, std::function<void()> action);
  std::optional<std::uint64_t> NextScheduled() const;

 private:
  mutable std::mutex mutex_;
  std::int64_t localStartMs_;
  std::int64_t utcOffsetMs_;
  std::uint64_t tick_ = 0;
  std::multimap<std::uint64_t, std::function<void()>> scheduled_;
};

}  // namespace orv::fakes
