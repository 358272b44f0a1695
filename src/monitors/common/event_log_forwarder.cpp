#include "monitors/common/event_log_forwarder.h"

#include "platform/decimal_text.h"

namespace orv {
namespace {

constexpr std::string_view kEveryEntry = "*";

}  // namespace

EventLogForwarder::EventLogForwarder(os::EventLogStore& store, os::Clock& clock)
    : clock_(clock), application_(store), system_(store) {
  application_.BookmarkNewest("Application", kEveryEntry);
  system_.BookmarkNewest("System", kEveryEntry);
}

void EventLogForwarder::Forward(const AgentCtrl_ConfigFile& definitions, EventQueue& queue) {
  const bool rulesApply = definitions.GetLoadStatus() == AgentCtrl_ConfigFile::kLoaded;
  ForwardLog("Application", application_, definitions.ApplicationDefinitions(), rulesApply, queue);
  ForwardLog("System", system_, definitions.SystemDefinitions(), rulesApply, queue);
}

void EventLogForwarder::ForwardLog(std::string_view channel, EventLog& reader,
                                   const std::vector<EventDefinition>& rules, bool rulesApply,
                                   EventQueue& queue) {
  (void)reader.ReadSinceBookmark(channel, kEveryEntry, [&](const EventLog::FetchedEntry& fetched) {
    if (fetched.renderError != os::kSuccess || !rulesApply) return;
    const std::string eventId = std::to_string(fetched.system.eventId);
    AgentEvent event(0, clock_);
    event.source = fetched.system.providerName;
    for (const EventDefinition& rule : rules) {
      if (rule.evt_id != eventId || rule.src != fetched.system.providerName) continue;
      event.act_id = ParseDecimal(rule.act_id);
      event.msg = rule.msg;
      event.act_para.clear();
      queue.Post(event);
    }
  });
}

}  // namespace orv
