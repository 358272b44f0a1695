// Event-log reporting adapter over ReportEventW (Windows only).
#pragma once

#include "os/event_reporter.h"

namespace orv::win32 {

class Win32EventReporter final : public os::EventReporter {
 public:
  os::OsError Report(std::string_view source, os::EventKind kind, std::uint32_t eventId,
                     std::string_view text) override;
};

}  // namespace orv::win32
