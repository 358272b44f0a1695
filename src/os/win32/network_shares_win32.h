// The local machine's shares through the network management API (Windows only).
#pragma once

#include "os/network_shares.h"

namespace orv::win32 {

class Win32NetworkShares final : public os::NetworkShares {
 public:
  bool List(std::vector<os::ShareEntry>& shares, os::OsError& error) override;
};

}  // namespace orv::win32
