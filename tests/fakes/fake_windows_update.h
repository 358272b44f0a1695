// Windows Update for host tests: what a search finds or how it fails, searches that take time
// (simulated, with a FakeClock driving the waits) or never end until stopped, and the times of
// Automatic Updates. Set-up happens before the agent's threads run; what they did is recorded
// under a lock.
#pragma once

#include <cstdint>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_helpers.h"
#include "os/synchronization.h"
#include "os/windows_update.h"

namespace orv::fakes {

class FakeWindowsUpdate final : public os::WindowsUpdate {
 public:
  FakeWindowsUpdate(FakeClock& clock, os::Synchronization& sync) : clock_(clock), sync_(sync) {}

  os::UpdateResult Search(os::Event& stop, os::PendingUpdates& found) override {
    searchTicks_.Add(clock_.MillisecondsSinceStart());
    // Waits as the adapter does: on the stop event, for as long as the search lasts.
    os::Event* const events[] = {&stop};
    if (searchMs != 0 && sync_.WaitAny(events, searchMs) != os::kWaitTimeout) return os::kUpdateAborted;
    if (searchResult == os::kUpdateOk) found = pending;
    return searchResult;
  }

  os::AutoUpdateTimes LastSuccessTimes() override { return times; }

  // What searches end with; `pending` is found on success.
  os::UpdateResult searchResult = os::kUpdateOk;
  os::PendingUpdates pending;
  // How long a search lasts; os::kInfinite: until its stop event is set.
  std::uint32_t searchMs = 0;
  os::AutoUpdateTimes times;

  // The clock's ticks at which searches began.
  std::vector<std::uint64_t> SearchTicks() const { return searchTicks_.Items(); }
  // Waits, bounded in real time, until `count` searches have begun.
  bool WaitForSearches(std::size_t count) {
    return searchTicks_.WaitUntil([count](const auto& ticks) { return ticks.size() >= count; });
  }

 private:
  FakeClock& clock_;
  os::Synchronization& sync_;
  Record<std::uint64_t> searchTicks_;
};

}  // namespace orv::fakes
