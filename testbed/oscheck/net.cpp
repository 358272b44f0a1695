// oscheck net: lists the machine's ports the way the agent sees them, through the real IP helper
// adapter and NetworkInfo::Refresh, and prints
//   raw TAB <adapter count> TAB then per raw adapter: <physical address length>
//   port TAB <MAC> TAB <has address> TAB <address> TAB <DNS server> TAB <gateway>
//        TAB <description> TAB <counter instance name>      (one line per port, in port order)
//   device TAB <device MAC text>
// Texts are UTF-8 with backslash, tab, CR and LF escaped. Exit status 1 when Refresh fails.
#include <cstdio>
#include <string>
#include <string_view>

#include "os/win32/network_adapters_win32.h"
#include "platform/network_info.h"

#include "oscheck.h"

namespace {

std::string Dotted(const std::array<std::uint8_t, 4>& address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
  return text;
}

}  // namespace

int NetCheck(int, wchar_t**) {
  orv::win32::Win32NetworkAdapters adapters;
  std::vector<orv::os::RawAdapter> raw;
  orv::os::OsError error = 0;
  if (!adapters.List(raw, error)) {
    std::printf("error\t%lu\n", static_cast<unsigned long>(error));
    return 1;
  }
  std::printf("raw\t%u", static_cast<unsigned>(raw.size()));
  for (const auto& adapter : raw) std::printf("\t%u", static_cast<unsigned>(adapter.physicalAddress.size()));
  std::printf("\n");

  orv::NetworkInfo info(adapters);
  if (!info.Refresh()) return 1;
  for (const orv::AdapterEntry& entry : info.Adapters()) {
    std::printf("port\t%s\t%u\t%s\t%s\t%s\t%s\t%s\n", orv::NetworkInfo::FormatMac(entry).c_str(),
                static_cast<unsigned>(entry.hasAddress), Dotted(entry.address).c_str(),
                Dotted(entry.dnsServer).c_str(), Dotted(entry.gateway).c_str(),
                Escaped(entry.description).c_str(), Escaped(orv::CounterInstanceName(entry)).c_str());
  }
  std::printf("device\t%s\n", info.DeviceMacText().c_str());
  return 0;
}
