// Shapes the fakes share: a failed port call, and a record other threads add to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "os/os_error.h"

namespace orv::fakes {

// A port call that answers with a flag and an error code, failing.
inline bool Fails(os::OsError& error, os::OsError code) {
  error = code;
  return false;
}

// What the agent did, as its threads add it while a test reads: copies out, and bounded waits.
template <typename T>
class Record {
 public:
  void Add(T item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
    added_.notify_all();
  }
  std::vector<T> Items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    items_ = {};
  }
  // Waits, in real time but bounded, until `holds` is true of the items.
  template <typename Holds>
  bool WaitUntil(Holds holds, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, bound, [&] { return holds(items_); });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable added_;
  std::vector<T> items_;
};

}  // namespace orv::fakes
