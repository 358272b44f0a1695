// The Virtual Disk Service through its COM interfaces (Windows only).
#pragma once

#include "os/virtual_disk_service.h"

namespace orv::win32 {

class VdsDiskService final : public os::VirtualDiskService {
 public:
  // Once the loader class was found not registered, only every this many enumerations look it
  // up again; the others fail the same way at once. The class comes with the system, so a
  // machine without it (Wine) keeps lacking it, and asking COM at every pass only costs.
  static constexpr int kMissingClassLookupEvery = 10;

  bool Enumerate(os::VdsSnapshot& snapshot, os::OsError& error) override;

 private:
  int missingClassAnswers_ = 0;  // left before the class is looked up again
};

}  // namespace orv::win32
