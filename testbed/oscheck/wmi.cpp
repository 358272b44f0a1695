// oscheck wmi FLAGS...: reads the hardware inventory through the real WMI adapter once per model
// flags argument (decimal or 0x hex), the way AgentCtrl_Upload does at construction, and prints
//   <flags as 0x%08X> TAB <connected 0|1> TAB <last result as 0x%08X> TAB <board product>
//   TAB <board serial> TAB <firmware text> TAB <writes board serial 0|1>
// then "network" TAB <network group type>. Exit status 2 for an unreadable argument.
#include <cwchar>

#include "os/win32/registry_win32.h"
#include "os/win32/wmi_win32.h"
#include "platform/wmi_base.h"
#include "report/hardware_inventory.h"

#include "oscheck.h"

int WmiCheck(int argc, wchar_t** argv) {
  orv::win32::Win32WmiConnector connector;
  for (int i = 1; i < argc; ++i) {
    wchar_t* end = nullptr;
    const unsigned long flags = std::wcstoul(argv[i], &end, 0);
    if (end == argv[i] || *end != L'\0' || flags > 0xFFFFFFFFUL) return 2;
    // A WmiBase per reading, as each AgentCtrl_Upload makes its own.
    orv::WmiBase wmi(connector);
    const orv::HardwareInventory inventory = orv::ReadHardwareInventory(wmi, static_cast<std::uint32_t>(flags));
    Print(Hex(static_cast<std::uint32_t>(flags)), wmi.Connected(), Hex(static_cast<std::uint32_t>(wmi.LastResult())),
          inventory.boardProduct, inventory.boardSerial, inventory.firmware, inventory.writesBoardSerial);
  }
  orv::win32::Win32Registry registry;
  Print("network", orv::ReadNetworkGroupType(registry));
  return 0;
}
