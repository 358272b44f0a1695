// Control-manager client adapter over OpenSCManagerW and friends (Windows only).
#pragma once

#include "os/service_manager.h"

namespace orv::win32 {

class Win32ServiceManager final : public os::ServiceManager {
 public:
  os::OsResult<os::ScmConnection> Connect(std::uint32_t access) override;
};

}  // namespace orv::win32
