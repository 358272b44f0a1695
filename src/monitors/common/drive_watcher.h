// The drive watcher: disks and optical drives connected or removed while monitoring runs.
//
// WMI polls the drives every ten seconds for it and delivers creation and deletion events on
// WMI's own threads; the drives present when the watcher starts are not reported.
#pragma once

#include <span>

#include "model/event_queue.h"
#include "os/os_ports.h"

namespace orv {

inline constexpr std::string_view kDriveEventQuery =
    "SELECT * FROM __InstanceOperationEvent WITHIN 10 WHERE (TargetInstance ISA 'Win32_DiskDrive') OR "
    "(TargetInstance ISA 'Win32_CDROMDrive')";

// Turns drive creation and deletion events into 4090 and 4100.
class AgentCtrl_COMMON_EventSink final : public os::WmiEventSink {
 public:
  AgentCtrl_COMMON_EventSink(os::Clock& clock, EventQueue& queue) : clock_(clock), queue_(queue) {}
  void Indicate(std::span<os::WmiObject* const> objects) override;

 private:
  os::Clock& clock_;
  EventQueue& queue_;
};

// The watcher thread's body: subscribes, then waits for `stop` and cancels.
void RunDriveWatcher(const os::OsPorts& os, os::Event& stop, EventQueue& queue);

}  // namespace orv
