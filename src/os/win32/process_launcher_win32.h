// Child processes over CreateProcessW, with an anonymous pipe for their output (Windows only).
#pragma once

#include "os/process_launcher.h"

namespace orv::win32 {

class Win32ProcessLauncher final : public os::ProcessLauncher {
 public:
  using os::ProcessLauncher::Launch;
  os::OsResult<os::ChildProcess> Launch(const os::ProcessStart& start,
                                        os::LaunchStep& failedAt) override;
};

}  // namespace orv::win32
