#include "monitors/common/ups_ctrl_apc.h"

#include <vector>

#include "platform/text_encoding.h"

namespace orv {

std::string HidStringText(const os::HidStringBuffer& raw) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
    const auto unit = static_cast<char16_t>(raw[i] | raw[i + 1] << 8);
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

void UPSCtrl_APC::Reset() {
  found = 0;
  readOk = 1;
  vendor.clear();
  model.clear();
  serial.clear();
  connection.clear();
  firmware.clear();
  runTime = remainingCapacity = manufactureDate = 0;
  status1 = status2 = 0;
  lastError = os::kSuccess;
}

bool UPSCtrl_APC::ReadUps() {
  Reset();
  os::OsResult<os::HidDeviceSet> set = hid_.PresentInterfaces();
  if (!set) {
    lastError = set.error();
    return false;
  }
  for (std::uint32_t index = 0; index < kMaxInterfaces; ++index) {
    std::string hardwareId;
    if (const os::OsError error = set->Interface(index, hardwareId); error != os::kSuccess) {
      lastError = error;
      if (error != os::kErrorNoMoreItems) return false;
      break;
    }
    if (hardwareId.find(kVendorId) == std::string::npos) continue;

    os::OsResult<os::HidDevice> device = set->Open(index);
    if (!device) {
      lastError = device.error();
      return false;
    }
    found = 1;
    connection = "USB";
    if (!ReadDevice(*device)) {
      readOk = 0;
      return true;
    }
    break;  // only the first UPS is read
  }
  SplitModel();
  return true;
}

bool UPSCtrl_APC::ReadDevice(os::HidDevice& device) {
  struct StringField {
    os::HidString which;
    std::string UPSCtrl_APC::*text;
  };
  static constexpr StringField kStrings[] = {
      {os::HidString::Manufacturer, &UPSCtrl_APC::vendor},
      {os::HidString::SerialNumber, &UPSCtrl_APC::serial},
      {os::HidString::Product, &UPSCtrl_APC::model},
  };
  for (const StringField& field : kStrings) {
    os::HidStringBuffer raw{};
    if ((lastError = device.ReadString(field.which, raw)) != os::kSuccess) return false;
    this->*field.text = HidStringText(raw);
  }
  os::HidCapabilities caps;
  if ((lastError = device.Capabilities(caps)) != os::kSuccess) return false;

  // A report must at least hold its id, and the status report its two status bytes; a layout
  // that promises less is a device that cannot be read, not a UPS without power.
  if (caps.featureReportLength < 1 && !caps.featureValues.empty()) {
    lastError = os::kErrorInvalidData;
    return false;
  }
  for (const os::HidValueCapability& cap : caps.featureValues) {
    if (cap.usagePage != kBatterySystemPage) continue;
    std::vector<std::uint8_t> report(caps.featureReportLength, 0);
    report[0] = cap.reportId;
    if ((lastError = device.GetFeatureReport(report)) != os::kSuccess) return false;
    const os::HidValueCapability wanted{kBatterySystemPage, cap.usage, cap.reportId, 0};
    std::uint32_t value = 0;
    if ((lastError = device.FeatureUsageValue(wanted, report, value)) != os::kSuccess) return false;
    switch (cap.usage) {
      case kManufactureDateUsage: manufactureDate = value; break;
      case kRemainingCapacityUsage: remainingCapacity = value; break;
      case kRunTimeToEmptyUsage: runTime = value; break;
      default: break;
    }
  }

  if (caps.inputButtonReportIds.empty() || caps.inputReportLength < 3) {
    lastError = os::kErrorInvalidData;
    return false;
  }
  std::vector<std::uint8_t> input(caps.inputReportLength, 0);
  input[0] = caps.inputButtonReportIds.front();
  if ((lastError = device.GetInputReport(input)) != os::kSuccess) return false;
  status1 = input[1];
  status2 = input[2];
  return true;
}

void UPSCtrl_APC::SplitModel() {
  if (model.empty()) return;
  const std::size_t fw = model.find("FW:");
  if (fw == std::string::npos) return;
  const std::size_t start = fw + 3;
  const std::size_t slash = model.find('/', start);
  firmware = slash == std::string::npos ? std::string() : model.substr(start, slash - start);
  model.resize(fw);
}

}  // namespace orv
