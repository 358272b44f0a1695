// The machine's shares as a test lays them out.
#pragma once

#include <vector>

#include "fakes/fake_helpers.h"
#include "os/network_shares.h"

namespace orv::fakes {

class FakeNetworkShares final : public os::NetworkShares {
 public:
  bool List(std::vector<os::ShareEntry>& out, os::OsError& error) override {
    out.clear();
    if (failWith != os::kSuccess) return Fails(error, failWith);
    out = shares;
    return true;
  }

  std::vector<os::ShareEntry> shares;
  os::OsError failWith = os::kSuccess;
};

}  // namespace orv::fakes
