// The UPS as a device that answers anything: its three strings, feature values and status
// bytes come from the input. Whatever it sends, every value the status message would carry
// must be one valid JSON token, and nothing is read outside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fakes/fake_hid_devices.h"
#include "monitors/common/ups_ctrl_apc.h"
#include "monitors/common/ups_monitor.h"

namespace {

// Takes `count` bytes from the front of the input (fewer when it runs out).
std::vector<std::uint8_t> Take(const std::uint8_t*& data, std::size_t& size, std::size_t count) {
  const std::size_t n = count < size ? count : size;
  std::vector<std::uint8_t> out(data, data + n);
  data += n;
  size -= n;
  return out;
}

std::uint32_t Number(const std::uint8_t*& data, std::size_t& size) {
  std::uint32_t value = 0;
  for (const std::uint8_t byte : Take(data, size, 4)) value = value << 8 | byte;
  return value;
}

void CheckToken(const std::string& token) {
  if (!nlohmann::json::accept(token)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orv::fakes::FakeHidDevice ups;
  ups.hardwareId = "HID\\VID_051D&PID_0002";
  for (const auto which : {orv::os::HidString::Manufacturer, orv::os::HidString::Product, orv::os::HidString::SerialNumber}) {
    const std::size_t length = size > 0 ? *data % 200 : 0;
    if (size > 0) {
      ++data;
      --size;
    }
    ups.strings[which] = Take(data, size, length + 60);  // some fill the whole 256-byte buffer
  }
  ups.caps.featureReportLength = 5;
  ups.caps.inputReportLength = 3;
  ups.caps.featureValues = {{0x85, 0x66, 1, 0}, {0x85, 0x68, 1, 0}, {0x85, 0x85, 2, 0}, {0x84, 0x30, 3, 0}, {0x85, 0x67, 1, 0}};
  ups.caps.inputButtonReportIds = {7};
  for (const std::uint16_t usage : {std::uint16_t{0x66}, std::uint16_t{0x68}, std::uint16_t{0x85}, std::uint16_t{0x30}, std::uint16_t{0x67}}) {
    ups.featureValues[usage] = Number(data, size);
  }
  ups.inputReport = Take(data, size, 2);

  orv::fakes::FakeHidDevices hid;
  hid.Set({ups});
  orv::UPSCtrl_APC reading(hid);
  (void)reading.ReadUps();
  bool abnormal = false;
  const orv::UpsSnapshot snapshot = orv::UpsMonitor::SnapshotOf(reading, abnormal);
  for (const std::string* token : {&snapshot.vnd, &snapshot.model, &snapshot.fwv, &snapshot.serial, &snapshot.prd_date,
                                   &snapshot.bt_date, &snapshot.bt_sts, &snapshot.connect, &snapshot.config,
                                   &snapshot.bt_time, &snapshot.bt_sec, &snapshot.tmp}) {
    CheckToken(*token);
  }
  return 0;
}
