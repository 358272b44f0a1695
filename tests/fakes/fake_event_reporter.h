// Records every event-log entry instead of writing it.
#pragma once

#include <string>
#include <vector>

#include "fakes/fake_helpers.h"
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
    entries_.Add({std::string(source), kind, eventId, std::string(text)});
    return os::kSuccess;
  }

  std::vector<LoggedEvent> Entries() const { return entries_.Items(); }
  // Waits, bounded, until at least `count` entries exist (entries may come from other threads).
  bool WaitForEntries(std::size_t count) {
    return entries_.WaitUntil([count](const auto& entries) { return entries.size() >= count; });
  }
  // Forgets what was logged, for tests that run long enough for the record to matter.
  void ClearRecords() { entries_.Clear(); }
  std::vector<std::uint32_t> Ids() const {
    std::vector<std::uint32_t> ids;
    for (const auto& entry : entries_.Items()) ids.push_back(entry.eventId);
    return ids;
  }

 private:
  Record<LoggedEvent> entries_;
};

}  // namespace orv::fakes
