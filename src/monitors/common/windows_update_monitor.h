// The Windows Update check: a new installation by Windows, a changed Windows Update policy, and
// the text the status message shows about waiting updates.
//
// All its memory is in the registry: the last installation time and policy it saw, and what
// the daily search on the update watcher thread left there (see windows_update_watcher.h).
// The check itself never waits on Windows Update beyond asking Automatic Updates for its times.
#pragma once

#include <string>

#include "model/event_queue.h"
#include "os/os_ports.h"
#include "platform/reg_handle.h"

namespace orv {

class WindowsUpdateMonitor {
 public:
  WindowsUpdateMonitor(const os::OsPorts& os, EventQueue& queue);

  // The start-up form: records what was not recorded yet and the policy, reports nothing, and
  // leaves an installation made while the agent was stopped for the first periodic check.
  void CheckAtStartUp(std::string& message) { Check(false, message); }
  // Every later check: reports a new installation and a changed policy.
  void Check(std::string& message) { Check(true, message); }

 private:
  void Check(bool report, std::string& message);
  void CheckInstallation(bool report);
  void CheckPolicy(bool report);
  std::string PendingUpdatesText() const;

  os::OsPorts os_;
  EventQueue& queue_;
  RegHandle common_;
};

}  // namespace orv
