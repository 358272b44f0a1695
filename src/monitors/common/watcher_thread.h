// One watcher thread of the common monitors with its stop event.
//
// The body receives the stop event and must end soon after it is set. A body that does not end
// within the stop wait is left running and only forgotten, so the body holds shared ownership
// of its stop event and owns everything else it uses: it never touches what the monitors owned.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "os/synchronization.h"

namespace orv {

class WatcherThread {
 public:
  static constexpr std::uint32_t kStopWaitMs = 60000;

  WatcherThread() = default;
  WatcherThread(const WatcherThread&) = delete;
  WatcherThread& operator=(const WatcherThread&) = delete;
  ~WatcherThread() { Stop(); }

  // Starts `body` on a new thread; false (and nothing running) when the stop event or the
  // thread cannot be made. A running watcher is stopped first.
  bool Start(os::Synchronization& sync, std::function<void(os::Event& stop)> body);
  // Signals the stop event without waiting, so that several watchers end side by side.
  void SignalStop() {
    if (stop_) stop_->Set();
  }
  // Signals the stop event and waits for the thread up to kStopWaitMs; true when it ended (or
  // none ran).
  bool Stop();

 private:
  std::shared_ptr<os::Event> stop_;
  std::unique_ptr<os::Thread> thread_;
};

}  // namespace orv
