#include "platform/network_info.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace orv {
namespace {

constexpr std::size_t kMacBytes = 6;
constexpr std::uint32_t kOperStatusUp = 1;
constexpr std::uint32_t kDnsEligible = 0x1;
constexpr std::uint16_t kFamilyIpv4 = 2;
// sockaddr_in: family (2 bytes, little-endian), port (2 bytes), then the address (4 bytes).
constexpr std::size_t kIpv4AddressOffset = 4;
constexpr std::size_t kIpv4MinimumLength = kIpv4AddressOffset + 4;
constexpr std::uint32_t kLastPortNumber = 0xFFFFFF;

// Copies the IPv4 address out of a socket address; false for any other family or a socket
// address too short to hold one, so an IPv6 entry is never read as if it were IPv4.
bool TakeIpv4(const std::vector<std::uint8_t>& sockaddr, std::array<std::uint8_t, 4>& out) {
  if (sockaddr.size() < kIpv4MinimumLength) return false;
  const auto family = static_cast<std::uint16_t>(sockaddr[0] | (sockaddr[1] << 8));
  if (family != kFamilyIpv4) return false;
  std::copy_n(sockaddr.begin() + kIpv4AddressOffset, out.size(), out.begin());
  return true;
}

std::uint32_t Tail(const AdapterEntry& entry) {  // the NIC-specific part
  return static_cast<std::uint32_t>(entry.mac[3] << 16 | entry.mac[4] << 8 | entry.mac[5]);
}

std::uint32_t Head(const AdapterEntry& entry) {  // the manufacturer part
  return static_cast<std::uint32_t>(entry.mac[0] << 16 | entry.mac[1] << 8 | entry.mac[2]);
}

// A strict weak ordering: the port numbers, then the rest of the entry so that even adapters
// sharing one MAC (teams, virtual switches) come out the same whatever the system's order.
bool StrictlyBefore(const AdapterEntry& a, const AdapterEntry& b) {
  const std::uint32_t tailA = Tail(a);
  const std::uint32_t tailB = Tail(b);
  const std::uint32_t headA = Head(a);
  const std::uint32_t headB = Head(b);
  return std::tie(tailA, headA, a.description, a.hasAddress, a.address, a.dnsServer, a.gateway) <
         std::tie(tailB, headB, b.description, b.hasAddress, b.address, b.dnsServer, b.gateway);
}

AdapterEntry EntryOf(const os::RawAdapter& adapter) {
  AdapterEntry entry;
  entry.description = adapter.description;
  std::copy_n(adapter.physicalAddress.begin(), kMacBytes, entry.mac.begin());
  if (adapter.operStatus != kOperStatusUp) return entry;  // listed, with no addresses
  for (const os::UnicastAddress& unicast : adapter.unicast) {
    if ((unicast.flags & kDnsEligible) != 0 && TakeIpv4(unicast.sockaddr, entry.address)) {
      entry.hasAddress = 1;  // a later eligible address overwrites an earlier one
    }
  }
  for (const auto& server : adapter.dnsServers) (void)TakeIpv4(server, entry.dnsServer);
  for (const auto& gateway : adapter.gateways) (void)TakeIpv4(gateway, entry.gateway);
  return entry;
}

}  // namespace

// Port order is the NIC-specific part of the MAC with a wrap rule: a port ending FFFFFF comes
// before one ending 000000. That is not an ordering a sort may be given: ports ending
// 000000, 000001 and FFFFFF each come before the next in a circle. So the list is sorted by a
// strict ordering (port number, then manufacturer part, then the rest of the entry) and the
// wrap is applied afterwards as one rotation: when some port ends 000000 and some port ends
// FFFFFF, the ports ending FFFFFF (the last ones of the sorted list) move to the front, in
// their sorted order. Every pair of entries then keeps the port order,
// except that a port ending FFFFFF also comes before the ports numbered between 000000 and
// FFFFFF, which a circle forces to give one way or the other; this way the board whose ports
// wrap keeps them as LAN1 and LAN2, and a two-port board always has the FFFFFF port first.
void SortPorts(std::vector<AdapterEntry>& entries) {
  std::sort(entries.begin(), entries.end(), StrictlyBefore);
  const bool hasFirst = std::any_of(entries.begin(), entries.end(),
                                    [](const AdapterEntry& e) { return Tail(e) == 0; });
  const auto lastPorts = std::find_if(entries.begin(), entries.end(), [](const AdapterEntry& e) {
    return Tail(e) == kLastPortNumber;
  });
  if (hasFirst && lastPorts != entries.end()) {
    std::rotate(entries.begin(), lastPorts, entries.end());
  }
}

bool NetworkInfo::Refresh() {
  list_.clear();
  std::vector<os::RawAdapter> adapters;
  os::OsError error = os::kSuccess;
  if (!adapters_.List(adapters, error)) return false;
  for (const os::RawAdapter& adapter : adapters) {
    // Loopback and tunnel adapters have no six-byte physical address; they are not ports.
    if (adapter.physicalAddress.size() != kMacBytes) continue;
    list_.push_back(EntryOf(adapter));
  }
  SortPorts(list_);
  return true;
}

std::string NetworkInfo::FormatMac(const AdapterEntry& entry) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", entry.mac[0], entry.mac[1],
                entry.mac[2], entry.mac[3], entry.mac[4], entry.mac[5]);
  return text;
}

std::string NetworkInfo::DeviceMacText() {
  (void)Refresh();
  return list_.empty() ? std::string() : FormatMac(list_.front());
}

}  // namespace orv
