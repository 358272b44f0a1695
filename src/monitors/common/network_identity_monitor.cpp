#include "monitors/common/network_identity_monitor.h"

#include <cstdio>

#include "model/act_ids.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/network_info.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

std::string AddressText(const std::array<std::uint8_t, 4>& address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
  return text;
}

}  // namespace

void NetworkIdentityMonitor::Check(bool compareAddresses, std::vector<AdapterEntry>& sampleAdapters) {
  NetworkInfo info(os_.adapters);
  if (!info.Refresh()) {
    log_.Error(event_id::kNetworkInfoFailed, "ネットワーク情報の取得に失敗しました。");
    return;
  }
  const std::vector<AdapterEntry>& adapters = info.Adapters();
  CompareMacs(adapters);
  sampleAdapters = adapters;
  macAddressText_ = adapters.empty() ? std::string() : NetworkInfo::FormatMac(adapters.front());
  if (compareAddresses) CompareAddresses(adapters);
  previous_ = adapters;
}

void NetworkIdentityMonitor::CompareMacs(const std::vector<AdapterEntry>& adapters) {
  const RegHandle common(os_.registry, os::RegistryRoot::LocalMachine, std::string(kCommonKey));
  std::vector<std::string> stored;
  (void)common.GetMultiString("MacAddress", stored);
  std::vector<std::string> current;
  for (const AdapterEntry& adapter : adapters) current.push_back(NetworkInfo::FormatMac(adapter));
  if (current != stored) (void)common.SetMultiString("MacAddress", current);  // an unchanged list costs no write

  // A shorter list whose positions all still match is a removed adapter, not another board.
  if (stored.empty()) return;
  bool changed = false;
  for (std::size_t i = 0; i < current.size(); ++i) {
    if (i >= stored.size() || stored[i] != current[i]) changed = true;
  }
  if (!changed) return;
  AgentEvent event(act_id::kBareboneExchanged, os_.clock);
  event.msg = "ベアボーン交換を検出しました。";
  queue_.Post(event);
}

void NetworkIdentityMonitor::CompareAddresses(const std::vector<AdapterEntry>& adapters) {
  struct Field {
    std::array<std::uint8_t, 4> AdapterEntry::*member;
    std::int32_t actId;
    const char* what;
  };
  static constexpr Field kFields[] = {
      {&AdapterEntry::address, act_id::kAddressChanged, "IPアドレス"},
      {&AdapterEntry::dnsServer, act_id::kDnsServerChanged, "DNSアドレス"},
      {&AdapterEntry::gateway, act_id::kGatewayChanged, "デフォルトゲートウェイ"},
  };
  for (const AdapterEntry& now : adapters) {
    for (const AdapterEntry& before : previous_) {
      // A port that just got (or lost) its address is connecting, not being renumbered.
      if (before.description != now.description || before.hasAddress != now.hasAddress) continue;
      for (const Field& field : kFields) {
        if (before.*field.member == now.*field.member) continue;
        const std::string was = AddressText(before.*field.member);
        const std::string is = AddressText(now.*field.member);
        AgentEvent event(field.actId, os_.clock);
        event.act_para = was + "," + is;
        event.msg = std::string(field.what) + "が「" + was + "」から「" + is + "」へ変更されました。";
        queue_.Post(event);
      }
    }
  }
}

}  // namespace orv
