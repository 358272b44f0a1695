// The adapter list of the IP helper (Windows only).
#include "os/win32/network_adapters_win32.h"

// The IP helper headers need Winsock 2's definitions, which must precede <windows.h>.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0603
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "os/win32/windows_api.h"

#include <iphlpapi.h>

#include <memory>

#include "os/win32/wide_text.h"

namespace orv::win32 {
namespace {

constexpr ULONG kFlags = GAA_FLAG_INCLUDE_PREFIX | GAA_FLAG_INCLUDE_GATEWAYS;  // 0x90
// The list may grow between asking for its size and reading it (an adapter comes up); a few
// more tries with the newly named size cover that without looping for ever.
constexpr int kAttempts = 4;

std::vector<std::uint8_t> SockaddrBytes(const SOCKET_ADDRESS& address) {
  if (address.lpSockaddr == nullptr || address.iSockaddrLength <= 0) return {};
  const auto* first = reinterpret_cast<const std::uint8_t*>(address.lpSockaddr);
  return std::vector<std::uint8_t>(first, first + address.iSockaddrLength);
}

os::RawAdapter Copy(const IP_ADAPTER_ADDRESSES& adapter) {
  os::RawAdapter raw;
  if (adapter.Description != nullptr) raw.description = Narrow(adapter.Description);
  const ULONG length = adapter.PhysicalAddressLength <= MAX_ADAPTER_ADDRESS_LENGTH
                           ? adapter.PhysicalAddressLength
                           : MAX_ADAPTER_ADDRESS_LENGTH;
  raw.physicalAddress.assign(adapter.PhysicalAddress, adapter.PhysicalAddress + length);
  raw.operStatus = static_cast<std::uint32_t>(adapter.OperStatus);
  for (auto* unicast = adapter.FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
    raw.unicast.push_back({static_cast<std::uint32_t>(unicast->Flags), SockaddrBytes(unicast->Address)});
  }
  for (auto* dns = adapter.FirstDnsServerAddress; dns != nullptr; dns = dns->Next) {
    raw.dnsServers.push_back(SockaddrBytes(dns->Address));
  }
  for (auto* gateway = adapter.FirstGatewayAddress; gateway != nullptr; gateway = gateway->Next) {
    raw.gateways.push_back(SockaddrBytes(gateway->Address));
  }
  return raw;
}

}  // namespace

bool Win32NetworkAdapters::List(std::vector<os::RawAdapter>& adapters, os::OsError& error) {
  adapters.clear();
  ULONG size = 0;
  ULONG result = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr, nullptr, &size);
  if (result != ERROR_BUFFER_OVERFLOW) {
    // Without a single adapter the first call already succeeds; that is no list either.
    error = result == ERROR_SUCCESS ? ERROR_NO_DATA : result;
    return false;
  }
  // IP_ADAPTER_ADDRESSES holds 64-bit fields; an array of them keeps the buffer aligned.
  std::unique_ptr<ULONGLONG[]> buffer;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    buffer = std::make_unique<ULONGLONG[]>(size / sizeof(ULONGLONG) + 1);
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
    result = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr, first, &size);
    if (result == ERROR_BUFFER_OVERFLOW) continue;  // grown meanwhile: `size` names the new need
    if (result != ERROR_SUCCESS) break;
    for (auto* adapter = first; adapter != nullptr; adapter = adapter->Next) {
      adapters.push_back(Copy(*adapter));
    }
    error = os::kSuccess;
    return true;
  }
  error = result;
  return false;
}

}  // namespace orv::win32
