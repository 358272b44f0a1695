// Records every event-log entry instead of writing it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "os/event_reporter.h"

namespace orv::fakes {

struct LoggedEvent {
  std::string source;
  os::EventKind kind;
  std::uint32_t eventId;
  std::string text;
};

class FakeEventReporter final : public os::EventReporter {
 public:
  os::OsError Report(std::string_view source, os::EventKind kind, std::uint32_t eventId,
                     std::string_view text) override {
    std::lock_guard lock(mutex_);
    entries_.push_back({std::string(source), kind, eventId, std::string(text)});
    added_.notify_all();
    return os::kSuccess;
  }

  std::vector<LoggedEvent> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  // Waits, bounded, until at least `count` entries exist (entries may come from other threads).
  bool WaitForEntries(std::size_t count) {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, std::chrono::seconds(10), [&] { return entries_.size() >= count; });
  }
  // Forgets what was logged, for tests that run long enough for the record to matter.
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    entries_ = {};
  }
  std::vector<std::uint32_t> Ids() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> ids;
    for (const auto& entry : entries_) ids.push_back(entry.eventId);
    return ids;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable added_;
  std::vector<LoggedEvent> entries_;
};

}  // namespace orv::fakes
