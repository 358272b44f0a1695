#include "monitors/common/share_connections.h"

#include <gtest/gtest.h>

#include "fakes/fake_network_shares.h"

namespace orv {
namespace {

// Users on this machine's disk shares; administrative (C$), temporary, printer and IPC
// shares are not theirs.
TEST(ShareConnections, CountOnlyPlainDiskShares) {
  constexpr std::uint32_t kSpecial = 0x80000000;
  constexpr std::uint32_t kTemporary = 0x40000000;
  const struct {
    const char* name;
    std::vector<os::ShareEntry> shares;
    os::OsError failure;
    std::uint32_t expected;
  } cases[] = {
      {"none", {}, os::kSuccess, 0},
      {"disk shares summed", {{"data", 0, 3}, {"backup", 0, 2}}, os::kSuccess, 5},
      {"others left out",
       {{"data", 0, 3}, {"C$", kSpecial, 4}, {"ADMIN$", kSpecial, 1}, {"IPC$", kSpecial | 3, 6},
        {"printer", 1, 2}, {"scratch", kTemporary, 7}},
       os::kSuccess, 3},
      {"list fails", {{"data", 0, 3}}, os::kErrorNotSupported, 0},
      {"sum beyond 32 bits", {{"data", 0, 0xFFFFFFFF}, {"backup", 0, 2}}, os::kSuccess, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    fakes::FakeNetworkShares shares;
    shares.shares = c.shares;
    shares.failWith = c.failure;
    EXPECT_EQ(CountShareConnections(shares), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace orv
