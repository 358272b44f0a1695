// The machine's network adapters as a test lays them out.
#pragma once

#include <vector>

#include "os/network_adapters.h"

namespace orv::fakes {

class FakeNetworkAdapters final : public os::NetworkAdapters {
 public:
  bool List(std::vector<os::RawAdapter>& out, os::OsError& error) override {
    if (failWith != 0) {
      error = failWith;
      return false;
    }
    out = adapters;
    return true;
  }

  std::vector<os::RawAdapter> adapters;
  os::OsError failWith = 0;
};

}  // namespace orv::fakes
