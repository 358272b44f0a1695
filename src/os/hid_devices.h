// HID devices port: the present HID device interfaces with their hardware ids, and one opened
// device's strings and reports as raw bytes, so that what a device sends is decoded (and
// distrusted) in portable code.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

// The buffer a device string is read into; the device need not terminate what it writes.
inline constexpr std::size_t kHidStringBytes = 256;
// ERROR_TIMEOUT: a device that did not answer within the adapter's bound.
inline constexpr OsError kErrorHidTimeout = 1460;

using HidStringBuffer = std::array<std::uint8_t, kHidStringBytes>;

enum class HidString { Manufacturer, Product, SerialNumber };

struct HidValueCapability {
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;  // the first usage of a range
  std::uint8_t reportId = 0;
  std::uint16_t linkCollection = 0;
};

struct HidCapabilities {
  std::uint16_t inputReportLength = 0;    // bytes, report id included
  std::uint16_t featureReportLength = 0;  // bytes, report id included
  std::vector<HidValueCapability> featureValues;
  std::vector<std::uint8_t> inputButtonReportIds;  // of the input button capabilities, in order
};

// One opened device. Every call that asks the device waits a bounded time; one that the
// device does not answer in time fails with kErrorHidTimeout.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // `raw` is zeroed, then receives the string's UTF-16LE bytes as the device gave them.
  virtual OsError ReadString(HidString which, HidStringBuffer& raw) = 0;
  // The device's report layout (from its preparsed data).
  virtual OsError Capabilities(HidCapabilities& caps) = 0;
  // Gets the feature (or input) report whose id is report[0]; `report` keeps its size.
  virtual OsError GetFeatureReport(std::span<std::uint8_t> report) = 0;
  virtual OsError GetInputReport(std::span<std::uint8_t> report) = 0;
  // The value of `cap`'s usage in a feature report as the device's layout places it.
  virtual OsError FeatureUsageValue(const HidValueCapability& cap, std::span<const std::uint8_t> report,
                                    std::uint32_t& value) = 0;
};

// The present HID device interfaces, as listed once.
class HidDeviceSet {
 public:
  virtual ~HidDeviceSet() = default;
  // The first hardware id of the interface at `index` (empty when the device has none that
  // can be read); kErrorNoMoreItems past the last interface.
  virtual OsError Interface(std::uint32_t index, std::string& hardwareId) = 0;
  // Opens the device of the interface at `index` for reading and writing.
  virtual OsResult<HidDevice> Open(std::uint32_t index) = 0;
};

class HidDevices {
 public:
  virtual ~HidDevices() = default;
  virtual OsResult<HidDeviceSet> PresentInterfaces() = 0;
  // False only when no HID interface can have come or gone since the previous call: the first
  // call, and every call that cannot tell, answers true.
  virtual bool InterfacesMayHaveChanged() = 0;
};

}  // namespace orv::os
