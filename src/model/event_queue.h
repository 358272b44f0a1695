// The two pending-event queues between the monitors and the controller.
//
// Monitors post from their own threads; the controller drains. A drain holds the queue's lock
// for the whole consumer call, so a thread posting meanwhile waits and its event goes to the
// next drain. The two locks are never held together: common first, then NAS.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "model/agent_event.h"

namespace orv {

class EventQueue {
 public:
  void Post(const AgentEvent& event);
  [[nodiscard]] bool HasPending() const;
  // Hands every event, in posting order, to `consumer`, then empties the queue.
  void Drain(const std::function<void(const AgentEvent&)>& consumer);

 private:
  mutable std::mutex mutex_;
  std::vector<AgentEvent> events_;
};

// Process-wide, as every monitor posts to them without knowing the controller.
EventQueue& CommonEventQueue();
EventQueue& NasEventQueue();

// The controller's drain: the common queue under its lock, then the NAS queue under its own.
void DrainEventQueues(const std::function<void(const AgentEvent&)>& consumer);
// True when either queue holds an event (each looked at under its own lock).
bool EventsPending();

}  // namespace orv
