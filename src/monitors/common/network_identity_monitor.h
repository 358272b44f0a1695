// The network identity monitor: a changed set of adapter MAC addresses (on this appliance the
// main board was exchanged) and changed IPv4 address, DNS server or gateway of an adapter.
//
// The MAC list survives restarts in the registry, so an exchange made while the agent was
// stopped is reported at start-up. Addresses are compared only between checks of one monitoring
// run: changes made while the agent was stopped are not events.
#pragma once

#include <string>
#include <vector>

#include "model/adapter_entry.h"
#include "model/event_queue.h"
#include "os/os_ports.h"
#include "platform/agent_event_log.h"

namespace orv {

class NetworkIdentityMonitor {
 public:
  NetworkIdentityMonitor(const os::OsPorts& os, const AgentEventLog& log, EventQueue& queue)
      : os_(os), log_(log), queue_(queue) {}

  // The start-up form: records the MAC list and the addresses, compares only the MAC list.
  void CheckAtStartUp(std::vector<AdapterEntry>& sampleAdapters) { Check(false, sampleAdapters); }
  // Every later check: also compares each adapter's addresses with the previous check's.
  void Check(std::vector<AdapterEntry>& sampleAdapters) { Check(true, sampleAdapters); }

  // The first adapter's MAC as the uploader is told it; empty while no adapter was seen.
  const std::string& MacAddressText() const { return macAddressText_; }

 private:
  void Check(bool compareAddresses, std::vector<AdapterEntry>& sampleAdapters);
  void CompareMacs(const std::vector<AdapterEntry>& adapters);
  void CompareAddresses(const std::vector<AdapterEntry>& adapters);

  os::OsPorts os_;
  const AgentEventLog& log_;
  EventQueue& queue_;
  std::vector<AdapterEntry> previous_;
  std::string macAddressText_;
};

}  // namespace orv
