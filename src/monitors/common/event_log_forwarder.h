// Forwarding of Application and System log entries that the event definition file names.
//
// Each pass reads what was written to the two logs since the previous pass (the readers'
// bookmarks start at the newest entry when the forwarder is built, so nothing from before
// monitoring started is forwarded) and posts one event per matching rule to the common queue.
#pragma once

#include "platform/agent_ctrl_config_file.h"
#include "os/clock.h"
#include "platform/event_log.h"
#include "model/event_queue.h"

namespace orv {

class EventLogForwarder {
 public:
  EventLogForwarder(os::EventLogStore& store, os::Clock& clock);

  // One pass over both logs. Rules apply only when the definitions loaded completely.
  void Forward(const AgentCtrl_ConfigFile& definitions, EventQueue& queue);

 private:
  void ForwardLog(std::string_view channel, EventLog& reader,
                  const std::vector<EventDefinition>& rules, bool rulesApply, EventQueue& queue);

  os::Clock& clock_;
  EventLog application_;
  EventLog system_;
};

}  // namespace orv
