// The agent's own entries in the Application event log, under the source "ORVSVC".
//
// Entries carry one insertion string; the formats of the composed texts are fixed because
// support engineers search the log for them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/event_reporter.h"
#include "os/system_info.h"

namespace orv {

inline constexpr std::string_view kAgentEventSource = "ORVSVC";

class AgentEventLog {
 public:
  AgentEventLog(os::EventReporter& reporter, os::SystemInfo& system)
      : reporter_(reporter), system_(system) {}

  void Information(std::uint32_t eventId, std::string_view text) const;
  void Warning(std::uint32_t eventId, std::string_view text) const;
  void Error(std::uint32_t eventId, std::string_view text) const;
  // An error entry about a failed system call: the sentence, the code and the system's text.
  void SystemCallError(std::uint32_t eventId, std::string_view sentence, os::OsError code) const;
  // The same, with the text `module`'s message table gives for the code (such as the HTTP
  // client's "winhttp.dll"), falling back to the system's.
  void SystemCallError(std::uint32_t eventId, std::string_view sentence, os::OsError code,
                       std::string_view module) const;

  // "%s\n\nERROR CODE:[0x%08X]\nERROR MSG:\n[%s]"
  static std::string FormatSystemCallError(std::string_view sentence, os::OsError code,
                                           std::string_view systemText);

 private:
  os::EventReporter& reporter_;
  os::SystemInfo& system_;
};

}  // namespace orv
