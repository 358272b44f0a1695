// The adapter list of the IP helper (Windows only).
#pragma once

#include "os/network_adapters.h"

namespace orv::win32 {

class Win32NetworkAdapters final : public os::NetworkAdapters {
 public:
  bool List(std::vector<os::RawAdapter>& adapters, os::OsError& error) override;
};

}  // namespace orv::win32
