#include "platform/network_info.h"

#include <algorithm>
#include <numeric>

#include <gtest/gtest.h>

#include "fakes/fake_network_adapters.h"

namespace orv {
namespace {

using MacBytes = std::vector<std::uint8_t>;

// sockaddr_in: family 2 little-endian, port, address, padding.
MacBytes Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return {2, 0, 0, 0, a, b, c, d, 0, 0, 0, 0, 0, 0, 0, 0};
}

MacBytes Ipv6() {
  MacBytes sockaddr(28, 0);  // sockaddr_in6: family 23, port, flow information, address
  sockaddr[0] = 23;
  sockaddr[4] = 0x12;  // flow information, which an IPv4 reading would take as the address
  sockaddr[8] = 0xFE;
  sockaddr[9] = 0x80;
  return sockaddr;
}

os::RawAdapter Port(std::string description, MacBytes mac, std::uint32_t operStatus = 1) {
  os::RawAdapter adapter;
  adapter.description = std::move(description);
  adapter.physicalAddress = std::move(mac);
  adapter.operStatus = operStatus;
  return adapter;
}

using Address = std::array<std::uint8_t, 4>;

class NetworkInfoTest : public ::testing::Test {
 protected:
  fakes::FakeNetworkAdapters adapters;
};

// The wrap rule makes the pairwise order circular; every listing order of a list must still
// give one result: MAC order, the port ending FFFFFF first only when one ends 000000, and the
// manufacturer part deciding between equal tails.
TEST_F(NetworkInfoTest, EveryListingOrderGivesOneResult) {
  const auto mac = [](std::array<std::uint8_t, 6> bytes) {
    AdapterEntry entry;
    entry.mac = bytes;
    return entry;
  };
  std::vector<AdapterEntry> wrapping = {mac({0, 0x11, 0x22, 0xFF, 0xFF, 0xFF}), mac({0, 0x11, 0x22, 0, 0, 0}),
                                        mac({0, 0x11, 0x22, 0, 0, 1}), mac({0x08, 0, 0x27, 0x12, 0x34, 0x56}),
                                        mac({0x02, 0, 0x27, 0x12, 0x34, 0x56}), mac({0, 0x11, 0x22, 0, 0, 1})};
  wrapping[5].description = "Team";  // a team shares its member's MAC
  const std::vector<AdapterEntry> noWrap = {mac({0, 0, 0, 0, 0, 1}), mac({0, 0, 0, 0xFF, 0xFF, 0xFF})};
  for (const auto& [entries, expected] : {std::pair{wrapping, std::vector<int>{0, 1, 2, 5, 4, 3}},
                                          std::pair{noWrap, std::vector<int>{0, 1}}}) {
    std::vector<int> order(entries.size());
    std::iota(order.begin(), order.end(), 0);
    do {
      std::vector<AdapterEntry> listed;
      for (int index : order) listed.push_back(entries[static_cast<std::size_t>(index)]);
      SortPorts(listed);
      std::vector<int> got;
      for (const AdapterEntry& entry : listed) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
          if (entries[i].mac == entry.mac && entries[i].description == entry.description) got.push_back(static_cast<int>(i));
        }
      }
      ASSERT_EQ(got, expected);
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

// Only six-byte physical addresses are ports, and only whole IPv4 socket addresses are read.
TEST_F(NetworkInfoTest, UpPortsTakeTheLastAddressesDownPortsNone) {
  const MacBytes shortIpv4 = {2, 0, 0, 0, 9, 9};  // an IPv4 family with its address cut off
  os::RawAdapter up = Port("Ethernet Adapter (PCI) #2", {0, 1, 2, 3, 4, 5});
  up.unicast = {{1, Ipv4(10, 0, 0, 1)}, {0, Ipv4(169, 254, 1, 1)}, {1, Ipv4(10, 0, 0, 2)}, {1, Ipv6()}, {1, shortIpv4}};
  up.dnsServers = {Ipv4(8, 8, 8, 8), Ipv4(1, 1, 1, 1), Ipv6(), shortIpv4};
  up.gateways = {Ipv4(10, 0, 0, 254), Ipv6(), MacBytes{2}};
  os::RawAdapter down = Port("Wi-Fi", {0, 1, 2, 3, 4, 6}, 2);
  down.unicast = {{1, Ipv4(192, 168, 0, 9)}};
  down.dnsServers = {Ipv4(8, 8, 4, 4)};
  adapters.adapters = {Port("Loopback", {}), down, Port("Eight", {1, 2, 3, 4, 5, 6, 7, 8}), up};
  NetworkInfo info(adapters);
  ASSERT_TRUE(info.Refresh());
  std::vector<std::string> got;
  for (const AdapterEntry& entry : info.Adapters()) {
    got.push_back(entry.description + " " + NetworkInfo::FormatMac(entry) + " " + std::to_string(entry.hasAddress));
    for (const Address& address : {entry.address, entry.dnsServer, entry.gateway}) {
      for (std::size_t i = 0; i < address.size(); ++i) got.back() += (i == 0 ? " " : ".") + std::to_string(address[i]);
    }
  }
  // The last DNS-eligible address; an IPv6 or cut-off server or gateway is no IPv4 address.
  EXPECT_EQ(got, (std::vector<std::string>{"Ethernet Adapter (PCI) #2 00:01:02:03:04:05 1 10.0.0.2 1.1.1.1 10.0.0.254",
                                           "Wi-Fi 00:01:02:03:04:06 0 0.0.0.0 0.0.0.0 0.0.0.0"}));
  EXPECT_EQ(info.DeviceMacText(), "00:01:02:03:04:05");

  adapters.failWith = 111;
  EXPECT_FALSE(info.Refresh());
  EXPECT_EQ(info.DeviceMacText(), "") << "a failed listing leaves no ports";
}

}  // namespace
}  // namespace orv
