// oscheck net: lists the machine's ports the way the agent sees them, through the real IP helper
// adapter and NetworkInfo::Refresh, and prints
//   raw TAB <adapter count> TAB then per raw adapter: <physical address length>
//   port TAB <MAC> TAB <has address> TAB <address> TAB <DNS server> TAB <gateway>
//        TAB <description> TAB <counter instance name>      (one line per port, in port order)
//   device TAB <device MAC text>
// Exit status 1 when Refresh fails.
#include <string>

#include "os/win32/network_adapters_win32.h"
#include "platform/network_info.h"

#include "oscheck.h"

using namespace orv;

int NetCheck(int, wchar_t**) {
  win32::Win32NetworkAdapters adapters;
  std::vector<os::RawAdapter> raw;
  os::OsError error = 0;
  if (!adapters.List(raw, error)) return Print("error", error), 1;
  std::printf("raw\t%zu", raw.size());
  for (const auto& adapter : raw) std::printf("\t%zu", adapter.physicalAddress.size());
  std::printf("\n");
  NetworkInfo info(adapters);
  if (!info.Refresh()) return 1;
  const auto dotted = [](const std::array<std::uint8_t, 4>& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return std::string(text);
  };
  for (const AdapterEntry& entry : info.Adapters()) {
    Print("port", NetworkInfo::FormatMac(entry), entry.hasAddress, dotted(entry.address), dotted(entry.dnsServer),
          dotted(entry.gateway), entry.description, CounterInstanceName(entry));
  }
  Print("device", info.DeviceMacText());
  return 0;
}
