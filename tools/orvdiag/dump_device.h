// A disk that answers from a dump: the control requests of the disk readers get what the
// driver of that disk would have returned, so a diagnosis goes through the agent's own readers.
#pragma once

#include <string>

#include "orvdiag/ata_dump.h"
#include "os/storage_device.h"

namespace orv::diag {

class DumpDevice final : public os::StorageDevice {
 public:
  // The disk opens under `deviceName` only.
  DumpDevice(const AtaDump& dump, std::string deviceName) : dump_(dump), deviceName_(std::move(deviceName)) {}

  // IDENTIFY DEVICE and the two SMART reads: the driver's 16 status bytes and the sector.
  // A dump without the SMART sector answers as a disk without SMART does (not supported).
  bool SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request, std::size_t answerSize,
                    std::vector<std::uint8_t>& answer, os::OsError& error) override;
  // The device descriptor as a SATA disk's driver gives it (no vendor; the model, firmware
  // revision and serial number of the identify data), and the sector sizes of identify word
  // 106 (and 117-118).
  bool QueryProperty(std::string_view deviceName, std::uint32_t propertyId, std::size_t answerSize,
                     std::vector<std::uint8_t>& answer, os::OsError& error) override;

 private:
  const AtaDump& dump_;
  std::string deviceName_;
};

}  // namespace orv::diag
