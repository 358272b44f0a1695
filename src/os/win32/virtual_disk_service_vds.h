// The Virtual Disk Service through its COM interfaces (Windows only).
#pragma once

#include "os/virtual_disk_service.h"

namespace orv::win32 {

class VdsDiskService final : public os::VirtualDiskService {
 public:
  bool Enumerate(os::VdsSnapshot& snapshot, os::OsError& error) override;
};

}  // namespace orv::win32
