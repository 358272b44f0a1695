// oscheck hid: the HID devices as the UPS reader sees them, through the real adapter, and prints
//   list TAB <error>                                        (only when the list cannot be had)
//   interface TAB <index> TAB <error> TAB <hardware id>     (one line per index until an error)
//   open TAB <index> TAB <error>
//   string|caps|input TAB <index> TAB <error> TAB <ms>      (each request to a device, timed)
//   ups TAB <ReadUps result> TAB <found> TAB <read ok> TAB <last error>
#include <chrono>
#include <string>
#include <vector>

#include "monitors/common/ups_ctrl_apc.h"
#include "os/win32/hid_devices_win32.h"

#include "oscheck.h"

namespace {

using namespace orv;

// One request to the device, timed: every one must come back within the adapter's bound.
template <typename Request>
os::OsError Timed(const char* what, unsigned index, Request request) {
  const auto start = std::chrono::steady_clock::now();
  const os::OsError error = request();
  Print(what, index, error,
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  return error;
}

void Describe(os::HidDevice& device, unsigned index) {
  for (const auto which : {os::HidString::Manufacturer, os::HidString::Product, os::HidString::SerialNumber}) {
    os::HidStringBuffer raw{};
    Timed("string", index, [&] { return device.ReadString(which, raw); });
  }
  os::HidCapabilities caps;
  if (Timed("caps", index, [&] { return device.Capabilities(caps); }) != 0 || caps.inputReportLength == 0) return;
  std::vector<std::uint8_t> input(caps.inputReportLength, 0);
  if (!caps.inputButtonReportIds.empty()) input[0] = caps.inputButtonReportIds.front();
  Timed("input", index, [&] { return device.GetInputReport(input); });
}

}  // namespace

int HidCheck(int, wchar_t**) {
  win32::Win32HidDevices hid;
  if (os::OsResult<os::HidDeviceSet> set = hid.PresentInterfaces(); !set) {
    Print("list", set.error());
  } else {
    for (unsigned index = 0; index < 100; ++index) {
      std::string id;
      const os::OsError error = set->Interface(index, id);
      Print("interface", index, error, id);
      if (error != 0) break;
      os::OsResult<os::HidDevice> device = set->Open(index);
      Print("open", index, device.error());
      if (device) Describe(*device, index);
    }
  }
  UPSCtrl_APC ups(hid);
  const bool result = ups.ReadUps();
  Print("ups", result, ups.found, ups.readOk, ups.lastError);
  std::fflush(stdout);
  return 0;
}
