// The power manager's sleep handshake: the agent serves "\\.\pipe\svcpowmgr\Reqeust", turns a
// "SVCPOWMGR_Hibernate" message into the controller's "SVCPOWMGR_Notification" event and answers
// once the controller has reported the sleep (or the wait has run out).
//
// The body runs on one of the common monitors' watcher threads for as long as the monitoring
// loop runs; its stop event ends it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "os/named_pipe.h"
#include "os/synchronization.h"
#include "platform/agent_event_log.h"

namespace orv::service {

inline constexpr std::string_view kPowerManagerPipeName = "\\\\.\\pipe\\svcpowmgr\\Reqeust";
inline constexpr std::string_view kPowerNotificationEvent = "SVCPOWMGR_Notification";
inline constexpr std::string_view kPowerNotificationReturnEvent = "SVCPOWMGR_NotificationReturn";
inline constexpr std::string_view kHibernateMessage = "SVCPOWMGR_Hibernate";
inline constexpr std::string_view kHibernateErrorAnswer = "SVCPOWMGR_HibernateNotificationError";

struct PowerManagerPipeTiming {
  // How long the controller has to write the sleep report.
  std::uint32_t returnWaitMs = 30000;
  // Longest single block on the pipe; the stop event is looked at between blocks, so this is
  // also the longest a stop waits for the thread.
  std::uint32_t pollMs = 500;
  // Pause before the pipe is created again after it could not be.
  std::uint32_t retryMs = 1000;
  // Longest wait for a client; the stop event ends it at once.
  std::uint32_t clientWaitMs = 60000;
};

// Serves the pipe until `stop` is set, then disconnects and closes it. Returns at once
// when the return event cannot be created (no handshake could ever succeed).
// The return event is the agent's own (NewAgentNamedEvent): one another user created first is
// logged, and the thread returns as if it could not be created.
void RunPowerManagerPipe(os::NamedPipes& pipes, os::Synchronization& sync, os::Event& stop,
                         const AgentEventLog& log, const PowerManagerPipeTiming& timing = {});

// The pipe's bytes for an ASCII text: UTF-16LE, no terminator.
std::vector<std::uint8_t> PowerManagerText(std::string_view ascii);

}  // namespace orv::service
