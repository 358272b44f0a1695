// The system's network adapters as it lists them, with their raw addresses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

struct UnicastAddress {
  std::uint32_t flags = 0;             // bit 0: DNS-eligible
  std::vector<std::uint8_t> sockaddr;  // the socket address bytes as the system stores them
};

struct RawAdapter {
  std::string description;
  std::vector<std::uint8_t> physicalAddress;  // any length the system reports
  std::uint32_t operStatus = 0;               // 1: up
  std::vector<UnicastAddress> unicast;        // in the system's order
  std::vector<std::vector<std::uint8_t>> dnsServers;  // socket address bytes, in order
  std::vector<std::vector<std::uint8_t>> gateways;    // socket address bytes, in order
};

class NetworkAdapters {
 public:
  virtual ~NetworkAdapters() = default;
  // Every adapter of every address family with gateways and prefixes, in the system's order;
  // false with `error` when the list cannot be had.
  virtual bool List(std::vector<RawAdapter>& adapters, OsError& error) = 0;
};

}  // namespace orv::os
