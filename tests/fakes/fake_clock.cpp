#include "fakes/fake_clock.h"

#include "platform/calendar.h"

namespace orv::fakes {

FakeClock::FakeClock(const os::CalendarTime& localStart, int utcOffsetMinutes)
    : localStartMs_(ToCalendarMilliseconds(localStart)),
      utcOffsetMs_(static_cast<std::int64_t>(utcOffsetMinutes) * 60'000) {}

os::CalendarTime FakeClock::LocalNow() {
  std::lock_guard lock(mutex_);
  return FromCalendarMilliseconds(localStartMs_ + static_cast<std::int64_t>(tick_));
}

os::CalendarTime FakeClock::UtcNow() {
  std::lock_guard lock(mutex_);
  return FromCalendarMilliseconds(localStartMs_ + static_cast<std::int64_t>(tick_) - utcOffsetMs_);
}

std::uint64_t FakeClock::MillisecondsSinceStart() {
  std::lock_guard lock(mutex_);
  return tick_;
}

void FakeClock::Advance(std::uint64_t milliseconds) {
  AdvanceTo(MillisecondsSinceStart() + milliseconds);
}

void FakeClock::AdvanceTo(std::uint64_t tick) {
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard lock(mutex_);
      const auto due = scheduled_.begin();
      if (due == scheduled_.end() || due->first > tick) {
        if (tick > tick_) tick_ = tick;
        return;
      }
      if (due->first > tick_) tick_ = due->first;
      action = std::move(due->second);
      scheduled_.erase(due);
    }
    // Outside the lock: the action may read the clock or schedule more.
    action();
  }
}

void FakeClock::ScheduleAt(std::uint64_t tick, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  scheduled_.emplace(tick, std::move(action));
}

std::optional<std::uint64_t> FakeClock::NextScheduled() const {
  std::lock_guard lock(mutex_);
  if (scheduled_.empty()) return std::nullopt;
  return scheduled_.begin()->first;
}

}  // namespace orv::fakes
