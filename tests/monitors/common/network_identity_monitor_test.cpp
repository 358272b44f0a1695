#include "monitors/common/network_identity_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "platform/agent_registry.h"
#include "platform/network_info.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

Bytes Ipv4(std::array<std::uint8_t, 4> address) {
  Bytes sockaddr(16, 0);  // sockaddr_in: family 2, port, address
  sockaddr[0] = 2;
  std::copy(address.begin(), address.end(), sockaddr.begin() + 4);
  return sockaddr;
}

struct Port {
  std::string description;
  std::uint8_t lastMacByte;
  std::array<std::uint8_t, 4> address{};  // 0.0.0.0: disconnected
  std::array<std::uint8_t, 4> dns{};
  std::array<std::uint8_t, 4> gateway{};
};

using testing::Notice;

class NetworkIdentityTest : public ::testing::Test {
 protected:
  NetworkIdentityTest() { os.registry.AddKey(kCommonKey); }
  void Lay(const std::vector<Port>& ports) {
    os.adapters.adapters.clear();
    for (const Port& port : ports) {
      os::RawAdapter raw;
      raw.description = port.description;
      raw.physicalAddress = {0x00, 0x90, 0x27, 0x00, 0x00, port.lastMacByte};
      const bool connected = port.address != std::array<std::uint8_t, 4>{};
      raw.operStatus = connected ? 1 : 2;
      if (connected) {
        raw.unicast = {{1, Ipv4(port.address)}};
        raw.dnsServers = {Ipv4(port.dns)};
        raw.gateways = {Ipv4(port.gateway)};
      }
      os.adapters.adapters.push_back(raw);
    }
  }
  std::vector<std::string> StoredMacs() {
    std::vector<std::string> macs;
    (void)RegHandle::GetMultiString(os.registry, os::RegistryRoot::LocalMachine, kCommonKey, "MacAddress", macs);
    return macs;
  }
  std::vector<Notice> Drain() { return testing::DrainNotices(queue); }

  fakes::FakeOs os;
  AgentEventLog log{os.eventReporter, os.system};
  EventQueue queue;
  NetworkIdentityMonitor monitor{os.Ports(), log, queue};
  std::vector<AdapterEntry> sample;
};

const Notice kExchanged{act_id::kBareboneExchanged, "", "ベアボーン交換を検出しました。"};

TEST_F(NetworkIdentityTest, TheMacListIsRememberedAcrossRestartsAndComparedByPosition) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> before;  // last MAC bytes at the previous start; empty: first start
    std::vector<std::uint8_t> now;
    bool exchanged;
  };
  const Case cases[] = {
      {"first start", {}, {1, 2}, false},
      {"an added port", {1, 2}, {1, 2, 3}, true},
      {"the last port removed", {1, 2, 3}, {1, 2}, false},
      {"the first port removed", {1, 2, 3}, {2, 3}, true},
      {"another board", {1, 2}, {7, 8}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    (void)RegHandle::DeleteValue(os.registry, os::RegistryRoot::LocalMachine, kCommonKey, "MacAddress");
    if (!c.before.empty()) {
      std::vector<Port> ports;
      for (std::uint8_t b : c.before) ports.push_back({"LAN", b});
      Lay(ports);
      NetworkIdentityMonitor(os.Ports(), log, queue).CheckAtStartUp(sample);
      (void)Drain();
    }
    std::vector<Port> ports;
    for (std::uint8_t b : c.now) ports.push_back({"LAN", b});
    Lay(ports);
    NetworkIdentityMonitor restarted(os.Ports(), log, queue);
    restarted.CheckAtStartUp(sample);
    EXPECT_EQ(Drain(), c.exchanged ? std::vector<Notice>{kExchanged} : std::vector<Notice>{});
    EXPECT_EQ(StoredMacs().size(), c.now.size());
    EXPECT_EQ(restarted.MacAddressText(), NetworkInfo::FormatMac(sample.front()));
  }
}

TEST_F(NetworkIdentityTest, AddressChangesBetweenChecksOfOneRunArePostedInFieldOrder) {
  Lay({{"LAN1", 1, {192, 168, 0, 10}, {192, 168, 0, 1}, {192, 168, 0, 1}}, {"LAN2", 2}});
  monitor.CheckAtStartUp(sample);
  EXPECT_THAT(StoredMacs(), ElementsAre("00:90:27:00:00:01", "00:90:27:00:00:02"));
  EXPECT_EQ(monitor.MacAddressText(), "00:90:27:00:00:01");
  ASSERT_EQ(sample.size(), 2u);

  Lay({{"LAN1", 1, {192, 168, 0, 20}, {8, 8, 8, 8}, {192, 168, 0, 254}},
       {"LAN2", 2, {10, 0, 0, 5}, {10, 0, 0, 1}, {10, 0, 0, 1}}});  // LAN2 connects: no event
  monitor.Check(sample);
  EXPECT_THAT(Drain(), ElementsAre(
      Notice{act_id::kAddressChanged, "192.168.0.10,192.168.0.20", "IPアドレスが「192.168.0.10」から「192.168.0.20」へ変更されました。"},
      Notice{act_id::kDnsServerChanged, "192.168.0.1,8.8.8.8", "DNSアドレスが「192.168.0.1」から「8.8.8.8」へ変更されました。"},
      Notice{act_id::kGatewayChanged, "192.168.0.1,192.168.0.254",
             "デフォルトゲートウェイが「192.168.0.1」から「192.168.0.254」へ変更されました。"}));
  EXPECT_EQ(sample[1].hasAddress, 1u);

  monitor.Check(sample);
  EXPECT_THAT(Drain(), IsEmpty());
}

TEST_F(NetworkIdentityTest, TheStartUpCheckOnlyRecordsAddresses) {
  Lay({{"LAN1", 1, {192, 168, 0, 10}}});
  monitor.CheckAtStartUp(sample);
  Lay({{"LAN1", 1, {192, 168, 0, 11}}});
  monitor.CheckAtStartUp(sample);
  EXPECT_THAT(Drain(), IsEmpty());
  monitor.Check(sample);
  EXPECT_THAT(Drain(), IsEmpty()) << "compared with the latest start-up check";
}

}  // namespace
}  // namespace orv
