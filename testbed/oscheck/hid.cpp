// oscheck hid: the HID devices as the UPS reader sees them, through the real adapter, and prints
//   list TAB <error>                                        (only when the list cannot be had)
//   interface TAB <index> TAB <error> TAB <hardware id>     (one line per index until an error)
//   property TAB <index> TAB <hardware id size query error> TAB <bytes> TAB <instance id>
//   open TAB <index> TAB <error>
//   string TAB <index> TAB <which> TAB <error> TAB <ms> TAB <text>
//   caps TAB <index> TAB <error> TAB <ms> TAB <input length> TAB <feature length> TAB <feature values> TAB <input buttons>
//   input TAB <index> TAB <error> TAB <ms>
//   ups TAB <ReadUps result> TAB <found> TAB <read ok> TAB <last error>
// Texts are UTF-8 with backslash, tab, CR and LF escaped.
#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "monitors/common/ups_ctrl_apc.h"
#include "os/win32/hid_devices_win32.h"
#include "os/win32/process_control_win32.h"
#include "os/win32/wide_text.h"

#include "oscheck.h"

namespace {

long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// What SetupAPI itself says of the interface's device, beside what the adapter made of it.
void Property(unsigned index) {
  GUID hidClass{};
  ::HidD_GetHidGuid(&hidClass);
  HDEVINFO set = ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  DWORD size = 0;
  if (::SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &data)) {
    (void)::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, &device);
    DWORD bytes = 0;
    const DWORD error = ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &bytes)
                            ? 0
                            : ::GetLastError();
    wchar_t instance[512] = {};
    (void)::SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr);
    std::printf("property\t%u\t%lu\t%lu\t%s\n", index, error, bytes,
                Escaped(orv::win32::Narrow(instance)).c_str());
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

void Describe(orv::os::HidDevice& device, unsigned index) {
  static constexpr std::pair<orv::os::HidString, const char*> kStrings[] = {
      {orv::os::HidString::Manufacturer, "manufacturer"},
      {orv::os::HidString::Product, "product"},
      {orv::os::HidString::SerialNumber, "serial"},
  };
  for (const auto& [which, name] : kStrings) {
    orv::os::HidStringBuffer raw{};
    const auto start = std::chrono::steady_clock::now();
    const orv::os::OsError error = device.ReadString(which, raw);
    std::printf("string\t%u\t%s\t%lu\t%lld\t%s\n", index, name, static_cast<unsigned long>(error), MsSince(start),
                Escaped(orv::HidStringText(raw)).c_str());
  }
  orv::os::HidCapabilities caps;
  const auto start = std::chrono::steady_clock::now();
  const orv::os::OsError error = device.Capabilities(caps);
  std::printf("caps\t%u\t%lu\t%lld\t%u\t%u\t%u\t%u\n", index, static_cast<unsigned long>(error), MsSince(start),
              caps.inputReportLength, caps.featureReportLength, static_cast<unsigned>(caps.featureValues.size()),
              static_cast<unsigned>(caps.inputButtonReportIds.size()));
  if (error != 0 || caps.inputReportLength == 0) return;
  std::vector<std::uint8_t> input(caps.inputReportLength, 0);
  if (!caps.inputButtonReportIds.empty()) input[0] = caps.inputButtonReportIds.front();
  const auto inputStart = std::chrono::steady_clock::now();
  const orv::os::OsError inputError = device.GetInputReport(input);
  std::printf("input\t%u\t%lu\t%lld\n", index, static_cast<unsigned long>(inputError), MsSince(inputStart));
}

}  // namespace

int HidCheck(int, wchar_t**) {
  // Libraries are looked up as in the agent: loaded by name only from the system folder.
  if (orv::win32::Win32ProcessControl().LoadLibrariesFromSystemFolderOnly() != orv::os::kSuccess) return 3;
  orv::win32::Win32HidDevices hid;
  {
    orv::os::OsResult<orv::os::HidDeviceSet> set = hid.PresentInterfaces();
    if (!set) {
      std::printf("list\t%lu\n", static_cast<unsigned long>(set.error()));
    } else {
      for (unsigned index = 0; index < 100; ++index) {
        std::string id;
        const orv::os::OsError error = set->Interface(index, id);
        std::printf("interface\t%u\t%lu\t%s\n", index, static_cast<unsigned long>(error), Escaped(id).c_str());
        if (error != 0) break;
        Property(index);
        orv::os::OsResult<orv::os::HidDevice> device = set->Open(index);
        std::printf("open\t%u\t%lu\n", index, static_cast<unsigned long>(device.error()));
        if (device) Describe(*device, index);
      }
    }
  }
  orv::UPSCtrl_APC ups(hid);
  const bool result = ups.ReadUps();
  std::printf("ups\t%d\t%d\t%d\t%lu\n", result ? 1 : 0, ups.found, ups.readOk, static_cast<unsigned long>(ups.lastError));
  std::fflush(stdout);
  return 0;
}
