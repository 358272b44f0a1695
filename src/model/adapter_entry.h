// AdapterEntry: one network port as the status message and the network identity see it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orv {

struct AdapterEntry {
  std::string description;  // as the system reports it; also names its performance counter
  std::uint32_t hasAddress = 0;
  std::array<std::uint8_t, 4> address{};  // IPv4, network byte order
  std::array<std::uint8_t, 4> dnsServer{};
  std::array<std::uint8_t, 4> gateway{};
  std::array<std::uint8_t, 6> mac{};
};

// The adapter's performance counter instance name: the description with "(" as "[", ")" as
// "]" and "#" as "_", as the counter set spells it.
std::string CounterInstanceName(const AdapterEntry& adapter);

}  // namespace orv
