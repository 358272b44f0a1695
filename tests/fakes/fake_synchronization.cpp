#include "fakes/fake_synchronization.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orv::fakes {

class FakeEvent final : public os::Event {
 public:
  FakeEvent(FakeSynchronization& owner, std::shared_ptr<FakeSynchronization::EventState> state)
      : owner_(owner), state_(std::move(state)) {}
  void Set() override { owner_.Signal(*state_, true); }
  void Reset() override { owner_.Signal(*state_, false); }
  const std::shared_ptr<FakeSynchronization::EventState>& shared() const { return state_; }

 private:
  FakeSynchronization& owner_;
  std::shared_ptr<FakeSynchronization::EventState> state_;
};

namespace {

class FakeThread final : public os::Thread {
 public:
  FakeThread(std::function<void()> body, FakeClock* clock)
      : shared_(std::make_shared<Shared>()), clock_(clock) {
    thread_ = std::thread([shared = shared_, body = std::move(body)] {
      body();
      std::lock_guard lock(shared->mutex);
      shared->done = true;
      shared->finished.notify_all();
    });
  }
  ~FakeThread() override {
    // A thread that outlives its owner, as a worker may after a pre-shutdown, is left to end on
    // its own, as the process would leave it; its shared state stays alive with it.
    if (IsDone()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  bool Join(std::uint32_t timeoutMs) override {
    // In simulated time only a short real grace is given for a thread that is about to end;
    // the rest of the time-out passes on the clock.
    const std::uint32_t realMs =
        clock_ != nullptr && timeoutMs > kSimulatedGraceMs ? kSimulatedGraceMs : timeoutMs;
    std::unique_lock lock(shared_->mutex);
    const auto done = [this] { return shared_->done; };
    const bool ended = realMs == os::kInfinite
                           ? (shared_->finished.wait(lock, done), true)
                           : shared_->finished.wait_for(lock, std::chrono::milliseconds(realMs), done);
    lock.unlock();
    if (!ended && clock_ != nullptr && timeoutMs != os::kInfinite) clock_->Advance(timeoutMs);
    return ended;
  }

 private:
  // Far above a watcher's 500 ms poll, so a busy machine that is slow to schedule the ending
  // thread never makes it look hung; only a thread that is really hung pays it.
  static constexpr std::uint32_t kSimulatedGraceMs = 10000;
  struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
  };
  bool IsDone() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->done;
  }

  std::shared_ptr<Shared> shared_;
  FakeClock* clock_;
  std::thread thread_;
};

}  // namespace

FakeSynchronization::~FakeSynchronization() {
  // Release threads still waiting (a worker left behind): their waits fail and they end.
  std::unique_lock lock(mutex_);
  closing_ = true;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::seconds(20), [this] { return waiters_ == 0; });
}

void FakeSynchronization::Signal(EventState& state, bool value) {
  std::lock_guard lock(mutex_);
  state.set = value;
  if (value) changed_.notify_all();
}

os::OsResult<os::Event> FakeSynchronization::NewEvent(os::EventReset reset, std::string_view name) {
  const bool manualReset = reset == os::EventReset::Manual;
  std::lock_guard lock(mutex_);
  std::shared_ptr<EventState> state;
  if (!name.empty()) {
    auto& slot = named_[std::string(name)];
    // Like CreateEvent: an existing named event is opened, its state kept.
    if (!slot) slot = std::make_shared<EventState>(EventState{manualReset, false});
    state = slot;
  } else {
    state = std::make_shared<EventState>(EventState{manualReset, false});
  }
  return std::make_unique<FakeEvent>(*this, std::move(state));
}

os::OsResult<os::Event> FakeSynchronization::NewSecuredEvent(os::EventReset reset, std::string_view name,
                                                             std::string_view sddl,
                                                             std::optional<std::string>& existingOwner) {
  {
    std::lock_guard lock(mutex_);
    const std::string key(name);
    if (named_.contains(key)) {
      const auto owner = namedEventOwners.find(key);
      existingOwner = owner == namedEventOwners.end() ? std::string("S-1-5-18") : owner->second;
    } else {
      existingOwner.reset();
      namedEventSecurity[key] = std::string(sddl);
    }
  }
  return NewEvent(reset, name);
}

os::OsResult<os::Event> FakeSynchronization::OpenNamedEvent(std::string_view name) {
  std::lock_guard lock(mutex_);
  const auto it = named_.find(std::string(name));
  if (it == named_.end()) return os::kErrorFileNotFound;
  return std::make_unique<FakeEvent>(*this, it->second);
}

bool FakeSynchronization::IsNamedEventSet(std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto it = named_.find(std::string(name));
  return it != named_.end() && it->second->set;
}

void FakeSynchronization::SetNamedEvent(std::string_view name) {
  if (auto event = OpenNamedEvent(name)) event->Set();
}

std::uint32_t FakeSynchronization::WaitAny(std::span<os::Event* const> events,
                                           std::uint32_t timeoutMs) {
  if (events.empty()) return os::kWaitFailed;
  // The states are held, not the events: an owner may close an event while a thread still
  // waits on it, as Windows allows.
  std::vector<std::shared_ptr<EventState>> states;
  for (os::Event* event : events) states.push_back(static_cast<FakeEvent*>(event)->shared());
  const auto takeSignalled = [&states]() -> std::uint32_t {
    for (std::size_t i = 0; i < states.size(); ++i) {
      EventState& state = *states[i];
      if (state.set) {
        if (!state.manualReset) state.set = false;
        return static_cast<std::uint32_t>(i);
      }
    }
    return os::kWaitTimeout;
  };

  const auto realDeadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  FakeClock* const clock = !driver_ || *driver_ == std::this_thread::get_id() ? clock_ : nullptr;
  const std::uint64_t simulatedDeadline =
      clock != nullptr && timeoutMs != os::kInfinite
          ? clock->MillisecondsSinceStart() + timeoutMs
          : 0;
  std::unique_lock lock(mutex_);
  ++waiters_;
  struct Leave {
    FakeSynchronization& owner;
    ~Leave() {
      --owner.waiters_;
      owner.changed_.notify_all();
    }
  } leave{*this};
  for (;;) {
    if (closing_) return os::kWaitFailed;
    if (const std::uint32_t index = takeSignalled(); index != os::kWaitTimeout) return index;
    if (timeoutMs == 0) return os::kWaitTimeout;
    if (clock != nullptr) {
      const bool finite = timeoutMs != os::kInfinite;
      if (finite && clock->MillisecondsSinceStart() >= simulatedDeadline) return os::kWaitTimeout;
      // Time moves to the next moment anything can change: a scheduled action or the deadline.
      std::optional<std::uint64_t> target = clock->NextScheduled();
      if (finite) target = std::min(target.value_or(simulatedDeadline), simulatedDeadline);
      if (target) {
        lock.unlock();
        clock->AdvanceTo(*target);
        lock.lock();
        continue;
      }
    }
    if (timeoutMs == os::kInfinite) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, realDeadline) == std::cv_status::timeout) {
      return takeSignalled();
    }
  }
}

os::OsResult<os::Thread> FakeSynchronization::StartThread(std::function<void()> body) {
  if (threadError != os::kSuccess) return threadError;
  return std::make_unique<FakeThread>(std::move(body), clock_);
}

}  // namespace orv::fakes
