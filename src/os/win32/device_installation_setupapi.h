// Device installation port over SetupAPI (Windows only).
#pragma once

#include "os/device_installation.h"

namespace orv::win32 {

class SetupApiDeviceInstallation final : public os::DeviceInstallation {
 public:
  bool PresentDevices(std::string_view classGuid, std::vector<os::PresentDevice>& devices,
                      os::OsError& error) override;
};

}  // namespace orv::win32
