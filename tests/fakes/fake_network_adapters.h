// The machine's network adapters as a test lays them out.
#pragma once

#include <vector>

#include "fakes/fake_helpers.h"
#include "os/network_adapters.h"

namespace orv::fakes {

class FakeNetworkAdapters final : public os::NetworkAdapters {
 public:
  bool List(std::vector<os::RawAdapter>& out, os::OsError& error) override {
    if (failWith != 0) return Fails(error, failWith);
    out = adapters;
    return true;
  }

  std::vector<os::RawAdapter> adapters;
  os::OsError failWith = 0;
};

}  // namespace orv::fakes
