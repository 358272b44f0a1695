// UPSCtrl_APC: one reading of the USB UPS among the HID devices (identity, battery state).
//
// Only the first device whose hardware id carries the UPS maker's vendor id is read. Its
// strings come from the device as raw bytes and are decoded here: they need not be
// terminated and may hold anything, so a text never reaches past its buffer and is always
// valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/hid_devices.h"

namespace orv {

class UPSCtrl_APC {
 public:
  static constexpr std::string_view kVendorId = "VID_051D";  // compared exactly, case-sensitive
  static constexpr std::uint32_t kMaxInterfaces = 100;
  static constexpr std::uint16_t kBatterySystemPage = 0x85;
  static constexpr std::uint16_t kManufactureDateUsage = 0x85;
  static constexpr std::uint16_t kRemainingCapacityUsage = 0x66;
  static constexpr std::uint16_t kRunTimeToEmptyUsage = 0x68;

  explicit UPSCtrl_APC(os::HidDevices& hid) : hid_(hid) {}
  virtual ~UPSCtrl_APC() = default;

  // True when the search ended normally, found or not, also after a failed read of an opened
  // device (readOk 0); false when the device list could not be had or walked, or the UPS found
  // could not be opened.
  bool ReadUps();

  std::int32_t found = 0;
  std::int32_t readOk = 1;
  std::string vendor;
  std::string model;
  std::string serial;
  std::string connection;
  std::string firmware;
  std::uint32_t runTime = 0;
  std::uint32_t remainingCapacity = 0;
  std::uint32_t manufactureDate = 0;
  std::uint8_t status1 = 0;
  std::uint8_t status2 = 0;
  os::OsError lastError = os::kSuccess;

 private:
  void Reset();
  // False, with lastError, at the first step that fails.
  bool ReadDevice(os::HidDevice& device);
  void SplitModel();

  os::HidDevices& hid_;
};

// The text of a device string buffer: UTF-16LE up to the first NUL unit or the buffer's end,
// malformed sequences as U+FFFD.
std::string HidStringText(const os::HidStringBuffer& raw);

}  // namespace orv
