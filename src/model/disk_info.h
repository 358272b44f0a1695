// DiskInfo: one disk, or the placeholder of an empty bay, as the storage readers fill it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orv {

// The whole answer of a SMART read: 16 bytes of request status, then the 512-byte sector.
inline constexpr std::size_t kSmartBlockSize = 529;
using SmartBlock = std::array<std::uint8_t, kSmartBlockSize>;

struct DiskInfo {
  std::uint32_t present = 0;  // 0: the placeholder of an empty bay
  std::string name;           // "HDD1", "SSD", ...
  std::int32_t number = 0;
  std::uint32_t slotIndex = 0;
  std::uint32_t portMask = 0;  // one bit per bay; 32 outside the bays; 0 without address
  std::uint32_t mediaType = 0;
  std::uint32_t busType = 0;
  std::string diskAddress;
  std::string deviceName;    // the path the disk is opened through
  std::string friendlyName;  // the model text
  std::string transferMode;
  std::string ataVersion;
  std::string features;
  std::string vendorId;
  std::string productId;
  std::string productRevision;
  std::string serialNumber;
  std::uint32_t logicalSectorSize = 0;
  std::uint32_t physicalSectorSize = 0;
  std::uint32_t temperature = 0;
  std::uint32_t powerOnHours = 0;
  std::uint32_t powerCycleCount = 0;
  std::uint32_t smartValid = 0;  // 1 when both blocks below were read
  SmartBlock smartData{};
  SmartBlock smartThresholds{};
};

}  // namespace orv
