// Device installation port: the present devices of one device class, each with the drivers the
// system finds compatible with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

struct CompatibleDriver {
  std::uint64_t date = 0;     // FILETIME of the driver's date
  std::uint64_t version = 0;  // four 16-bit parts, the most significant first
};

struct PresentDevice {
  std::string name;  // the friendly name, or the description when the device has none
  // Set when the compatible drivers could not be listed; `drivers` is then empty.
  OsError driverListError = kSuccess;
  std::vector<CompatibleDriver> drivers;
};

class DeviceInstallation {
 public:
  virtual ~DeviceInstallation() = default;
  // The present devices of the class `classGuid` ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}") in
  // the system's order; false with `error` when the class's device list cannot be had.
  virtual bool PresentDevices(std::string_view classGuid, std::vector<PresentDevice>& devices,
                              OsError& error) = 0;
};

}  // namespace orv::os
