// NetworkInfo: the Ethernet-type adapters in the fixed port order that makes LAN1, LAN2 and the
// device's MAC identity stable across reboots and driver reinstallations.
#pragma once

#include <string>
#include <vector>

#include "os/network_adapters.h"
#include "model/adapter_entry.h"

namespace orv {

class NetworkInfo {
 public:
  explicit NetworkInfo(os::NetworkAdapters& adapters) : adapters_(adapters) {}
  virtual ~NetworkInfo() = default;

  // Rebuilds the list from the system; false (and an empty list) when it cannot be had.
  bool Refresh();
  const std::vector<AdapterEntry>& Adapters() const { return list_; }

  // "%02X:%02X:%02X:%02X:%02X:%02X"
  static std::string FormatMac(const AdapterEntry& entry);
  // Refresh, then the MAC text of the first port; empty when there is none.
  std::string DeviceMacText();

 private:
  os::NetworkAdapters& adapters_;
  std::vector<AdapterEntry> list_;
};

// Puts `entries` in port order: one result for any input order of the same entries (see the
// definition for how the wrap rule is applied).
void SortPorts(std::vector<AdapterEntry>& entries);

}  // namespace orv
