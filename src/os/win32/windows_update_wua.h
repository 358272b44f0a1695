// Windows Update adapter over the Windows Update Agent's COM objects (Windows only): an update
// session's searcher, searching asynchronously so a stop can abort it, and the results of
// Automatic Updates.
//
// Each call joins the calling thread to the multithreaded apartment for its own duration and
// releases everything it was handed before leaving it, so the watcher thread and the
// controller thread can both use one adapter.
#pragma once

#include "os/synchronization.h"
#include "os/windows_update.h"

namespace orv::win32 {

class WuaWindowsUpdate final : public os::WindowsUpdate {
 public:
  // The stop events given to Search come from `sync`, which waits on them.
  explicit WuaWindowsUpdate(os::Synchronization& sync) : sync_(sync) {}

  os::UpdateResult Search(os::Event& stop, os::PendingUpdates& found) override;
  os::AutoUpdateTimes LastSuccessTimes() override;

 private:
  os::Synchronization& sync_;
};

}  // namespace orv::win32
