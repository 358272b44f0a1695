// Disk device control requests through DeviceIoControl (Windows only).
#pragma once

#include "os/storage_device.h"

namespace orv::win32 {

class Win32StorageDevice final : public os::StorageDevice {
 public:
  bool SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request, std::size_t answerSize,
                    std::vector<std::uint8_t>& answer, os::OsError& error) override;
  bool QueryProperty(std::string_view deviceName, std::uint32_t propertyId, std::size_t answerSize,
                     std::vector<std::uint8_t>& answer, os::OsError& error) override;
};

}  // namespace orv::win32
