// Events and threads for host tests.
//
// With a FakeClock attached, waits run in simulated time: a finite wait that no event ends
// advances the clock (running what is scheduled on the way) instead of sleeping, so a day of
// monitoring rounds takes milliseconds. Without one, waits are real but bounded by events.
// Threads are real threads.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "os/synchronization.h"

namespace orv::fakes {

class FakeSynchronization final : public os::Synchronization {
 public:
  explicit FakeSynchronization(FakeClock* simulatedClock = nullptr) : clock_(simulatedClock) {}
  ~FakeSynchronization() override;

  os::OsResult<os::Event> NewEvent(os::EventReset reset, std::string_view name) override;
  os::OsResult<os::Event> OpenNamedEvent(std::string_view name) override;
  std::uint32_t WaitAny(std::span<os::Event* const> events, std::uint32_t timeoutMs) override;
  os::OsResult<os::Thread> StartThread(std::function<void()> body) override;

  // Only waits on `driver` move simulated time; waits on other threads (a service's worker)
  // are real, bounded by events. Without a driver every thread's waits move it.
  void DriveTimeFrom(std::thread::id driver) { driver_ = driver; }

  // Named events other programs must not steer: the descriptor each was created with, and
  // the owner of each by name (SYSTEM unless a test plants one under another user).
  os::OsResult<os::Event> NewSecuredEvent(os::EventReset reset, std::string_view name,
                                          std::string_view sddl,
                                          std::optional<std::string>& existingOwner) override;
  std::map<std::string, std::string> namedEventSecurity;  // under the lock of NewSecuredEvent
  std::map<std::string, std::string> namedEventOwners;    // set up before the code runs

  // Whether the named event exists and is set, as another process would see it.
  bool IsNamedEventSet(std::string_view name) const;
  void SetNamedEvent(std::string_view name);

  os::OsError threadError = os::kSuccess;

  struct EventState {
    bool manualReset = false;
    bool set = false;
  };

 private:
  friend class FakeEvent;
  void Signal(EventState& state, bool value);

  FakeClock* clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<EventState>> named_;
  std::optional<std::thread::id> driver_;
  int waiters_ = 0;
  bool closing_ = false;
};

}  // namespace orv::fakes
