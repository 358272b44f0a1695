// oscheck hid: the HID devices as the UPS reader sees them, through the real adapter, and prints
//   list TAB <error>                                        (only when the list cannot be had)
//   interface TAB <index> TAB <error> TAB <hardware id>     (one line per index until an error)
//   open TAB <index> TAB <error>
//   string TAB <index> TAB <error> TAB <ms> TAB <which> TAB <text>
//   caps TAB <index> TAB <error> TAB <ms> TAB <input length> TAB <feature length> TAB <feature values> TAB <input buttons>
//   input TAB <index> TAB <error> TAB <ms>
//   ups TAB <ReadUps result> TAB <found> TAB <read ok> TAB <last error>
// Texts are UTF-8 with backslash, tab, CR and LF escaped.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "monitors/common/ups_ctrl_apc.h"
#include "os/win32/hid_devices_win32.h"

#include "oscheck.h"

namespace {

using namespace orv;

// One request to the device, timed: every one must come back within the adapter's bound.
template <typename Request, typename Rest>
os::OsError Timed(const char* what, unsigned index, Request request, Rest rest) {
  const auto start = std::chrono::steady_clock::now();
  const os::OsError error = request();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("%s\t%u\t%lu\t%lld%s\n", what, index, static_cast<unsigned long>(error),
              static_cast<long long>(ms.count()), rest().c_str());
  return error;
}

void Describe(os::HidDevice& device, unsigned index) {
  for (const auto& [which, name] : {std::pair{os::HidString::Manufacturer, "manufacturer"},
                                    std::pair{os::HidString::Product, "product"},
                                    std::pair{os::HidString::SerialNumber, "serial"}}) {
    os::HidStringBuffer raw{};
    Timed("string", index, [&] { return device.ReadString(which, raw); },
          [&] { return Tabbed(name, Escaped(HidStringText(raw))); });
  }
  os::HidCapabilities caps;
  const os::OsError error = Timed("caps", index, [&] { return device.Capabilities(caps); }, [&] {
    return Tabbed(std::to_string(caps.inputReportLength), std::to_string(caps.featureReportLength),
                  std::to_string(caps.featureValues.size()), std::to_string(caps.inputButtonReportIds.size()));
  });
  if (error != 0 || caps.inputReportLength == 0) return;
  std::vector<std::uint8_t> input(caps.inputReportLength, 0);
  if (!caps.inputButtonReportIds.empty()) input[0] = caps.inputButtonReportIds.front();
  Timed("input", index, [&] { return device.GetInputReport(input); }, [] { return std::string(); });
}

}  // namespace

int HidCheck(int, wchar_t**) {
  win32::Win32HidDevices hid;
  if (os::OsResult<os::HidDeviceSet> set = hid.PresentInterfaces(); !set) {
    std::printf("list\t%lu\n", static_cast<unsigned long>(set.error()));
  } else {
    for (unsigned index = 0; index < 100; ++index) {
      std::string id;
      const os::OsError error = set->Interface(index, id);
      std::printf("interface\t%u\t%lu\t%s\n", index, static_cast<unsigned long>(error), Escaped(id).c_str());
      if (error != 0) break;
      os::OsResult<os::HidDevice> device = set->Open(index);
      std::printf("open\t%u\t%lu\n", index, static_cast<unsigned long>(device.error()));
      if (device) Describe(*device, index);
    }
  }
  UPSCtrl_APC ups(hid);
  const bool result = ups.ReadUps();
  std::printf("ups\t%d\t%d\t%d\t%lu\n", result ? 1 : 0, ups.found, ups.readOk, static_cast<unsigned long>(ups.lastError));
  std::fflush(stdout);
  return 0;
}
