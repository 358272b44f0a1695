// Event-log reporting adapter over ReportEventW (Windows only).
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "os/event_reporter.h"
#include "os/win32/unique_handle.h"

namespace orv::win32 {

class Win32EventReporter final : public os::EventReporter {
 public:
  os::OsError Report(std::string_view source, os::EventKind kind, std::uint32_t eventId,
                     std::string_view text) override;

 private:
  // One registration per source for the run: registering and deregistering are each a call to
  // the event log service, which an entry reported every round would otherwise pay twice.
  std::mutex mutex_;
  std::map<std::string, UniqueEventSource, std::less<>> sources_;
};

}  // namespace orv::win32
