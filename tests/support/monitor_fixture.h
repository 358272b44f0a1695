// A UPS of the maker the agent reads, as the HID layer shows it: battery report 1, status
// report 7, manufactured 2024/05/17, full and charged unless `status1` says otherwise.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "fakes/fake_os.h"

namespace orv::testing {

// UTF-16LE bytes of `text`, with the terminator a HID string carries unless told otherwise.
inline std::vector<std::uint8_t> HidText(std::u16string_view text, bool terminated = true) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

inline fakes::FakeHidDevice ApcUps(std::uint8_t status1 = 0x08, std::uint8_t status2 = 0) {
  fakes::FakeHidDevice ups;
  ups.hardwareId = "HID\\VID_051D&PID_0002&REV_0106";
  ups.strings[os::HidString::Manufacturer] = HidText(u"American Power Conversion");
  ups.strings[os::HidString::Product] = HidText(u"Back-UPS RS 550G FW:879.L4 .I USB FW:L4 /x");
  ups.strings[os::HidString::SerialNumber] = HidText(u"3B1234X56789");
  ups.caps.featureReportLength = 5;
  ups.caps.inputReportLength = 3;
  ups.caps.featureValues = {{0x85, 0x66, 1, 0}, {0x85, 0x68, 1, 0}, {0x85, 0x85, 2, 0}, {0x84, 0x30, 3, 0}, {0x85, 0x67, 1, 0}};
  ups.caps.inputButtonReportIds = {7, 8};
  ups.featureValues = {{0x66, 100}, {0x68, 3600}, {0x85, (44u << 9) | (5u << 5) | 17u}, {0x30, 999}, {0x67, 5}};
  ups.inputReport = {status1, status2};
  return ups;
}

}  // namespace orv::testing
