#include "model/event_queue.h"

namespace orv {

void EventQueue::Post(const AgentEvent& event) {
  std::lock_guard lock(mutex_);
  events_.push_back(event);
}

bool EventQueue::HasPending() const {
  std::lock_guard lock(mutex_);
  return !events_.empty();
}

void EventQueue::Drain(const std::function<void(const AgentEvent&)>& consumer) {
  std::lock_guard lock(mutex_);
  for (const AgentEvent& event : events_) consumer(event);
  events_.clear();
}

EventQueue& CommonEventQueue() {
  static EventQueue queue;
  return queue;
}

EventQueue& NasEventQueue() {
  static EventQueue queue;
  return queue;
}

void DrainEventQueues(const std::function<void(const AgentEvent&)>& consumer) {
  CommonEventQueue().Drain(consumer);
  NasEventQueue().Drain(consumer);
}

bool EventsPending() { return CommonEventQueue().HasPending() || NasEventQueue().HasPending(); }

}  // namespace orv
