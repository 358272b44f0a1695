// The agent's named events. Their names are open to every program on the machine: a user who
// creates one first, before the agent, could then set it and make the agent write reports.
#pragma once

#include <string_view>

#include "os/os_result.h"
#include "os/synchronization.h"
#include "platform/agent_event_log.h"

namespace orv {

// Creates the named event for SYSTEM and Administrators only. An event found under the name
// that someone else owns, or that the agent may not open, is not used: the warning
// kUntrustedNamedEvent is logged and kErrorAccessDenied returned. Other failures are returned
// as they are, unlogged.
os::OsResult<os::Event> NewAgentNamedEvent(os::Synchronization& sync, const AgentEventLog& log,
                                           os::EventReset reset, std::string_view name);

}  // namespace orv
