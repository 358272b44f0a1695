#include "platform/agent_event_log.h"

#include <cstdio>

namespace orv {

void AgentEventLog::Information(std::uint32_t eventId, std::string_view text) const {
  reporter_.Report(kAgentEventSource, os::EventKind::Information, eventId, text);
}

void AgentEventLog::Warning(std::uint32_t eventId, std::string_view text) const {
  reporter_.Report(kAgentEventSource, os::EventKind::Warning, eventId, text);
}

void AgentEventLog::Error(std::uint32_t eventId, std::string_view text) const {
  reporter_.Report(kAgentEventSource, os::EventKind::Error, eventId, text);
}

void AgentEventLog::SystemCallError(std::uint32_t eventId, std::string_view sentence,
                                    os::OsError code) const {
  Error(eventId, FormatSystemCallError(sentence, code, system_.ErrorText(code)));
}

void AgentEventLog::SystemCallError(std::uint32_t eventId, std::string_view sentence, os::OsError code,
                                    std::string_view module) const {
  Error(eventId, FormatSystemCallError(sentence, code, system_.ModuleErrorText(module, code)));
}

std::string AgentEventLog::FormatSystemCallError(std::string_view sentence, os::OsError code,
                                                 std::string_view systemText) {
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "0x%08X", code);
  std::string text;
  text.reserve(sentence.size() + systemText.size() + 48);
  text.append(sentence).append("\n\nERROR CODE:[").append(codeText).append("]\nERROR MSG:\n[");
  text.append(systemText).append("]");
  return text;
}

}  // namespace orv
