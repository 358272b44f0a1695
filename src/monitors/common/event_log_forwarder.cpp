#include "monitors/common/event_log_forwarder.h"

#include "platform/decimal_text.h"

namespace orv {
namespace {

constexpr std::string_view kEveryEntry = "*";

void BookmarkNewest(EventLog& reader, std::string_view channel) {
  auto query = reader.OpenQuery(channel, kEveryEntry, os::QueryDirection::OldestFirst);
  reader.SaveBookmark(query.get(), os::SeekOrigin::Last);
}

}  // namespace

EventLogForwarder::EventLogForwarder(os::EventLogStore& store, os::Clock& clock)
    : clock_(clock), application_(store), system_(store) {
  BookmarkNewest(application_, "Application");
  BookmarkNewest(system_, "System");
}

void EventLogForwarder::Forward(const AgentCtrl_ConfigFile& definitions, EventQueue& queue) {
  const bool rulesApply = definitions.GetLoadStatus() == AgentCtrl_ConfigFile::kLoaded;
  ForwardLog("Application", application_, definitions.ApplicationDefinitions(), rulesApply, queue);
  ForwardLog("System", system_, definitions.SystemDefinitions(), rulesApply, queue);
}

void EventLogForwarder::ForwardLog(std::string_view channel, EventLog& reader,
                                   const std::vector<EventDefinition>& rules, bool rulesApply,
                                   EventQueue& queue) {
  auto query = reader.OpenQuery(channel, kEveryEntry, os::QueryDirection::OldestFirst);
  if (!query) return;
  reader.SeekToBookmark(query.get());

  std::vector<EventLog::FetchedEntry> batch;
  std::unique_ptr<os::EventEntry> lastRead;
  while (reader.NextBatch(query.get(), batch)) {
    for (EventLog::FetchedEntry& fetched : batch) {
      if (fetched.renderError == os::kSuccess && rulesApply) {
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
      }
      lastRead = std::move(fetched.entry);
    }
  }
  // The bookmark moves to the last entry actually read, not to whatever is newest now: an
  // entry written after the last fetch is then read by the next pass instead of skipped.
  if (lastRead) reader.SaveBookmarkAt(*lastRead);
}

}  // namespace orv
