// The disk readers: identify data, SMART blocks, the storage device descriptor and the sector
// sizes. Each opens the disk by its device name for one request (two for the descriptor) and
// closes it again; each returns false on failure with its output zeroed or empty, and gives
// the system error code through `error` when asked. An answer too short to hold what was asked
// for fails with kErrorInvalidData: a driver that returns less must not pass for a disk that
// reported zeros.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "monitors/nas/hdd_identify.h"
#include "os/storage_device.h"

namespace orv {

inline constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr std::uint8_t kAtaSmart = 0xB0;
inline constexpr std::uint8_t kSmartReadData = 0xD0;
inline constexpr std::uint8_t kSmartReadThresholds = 0xD1;

using IdentifyBlock = std::array<std::uint8_t, kIdentifyBlockSize>;

// The texts of a storage device descriptor; empty where it has none.
struct DeviceDescriptorTexts {
  std::string vendorId;
  std::string productId;
  std::string productRevision;
  std::string serialNumber;
};

struct SectorSizes {
  std::uint32_t logical = 0;
  std::uint32_t physical = 0;
};

// ATA IDENTIFY DEVICE; with `swapTextFields` the text fields read in byte order.
bool Identify(os::StorageDevice& disks, std::string_view deviceName, IdentifyBlock& block, bool swapTextFields,
              os::OsError* error = nullptr);

// SMART READ DATA (0xD0) or SMART READ THRESHOLDS (0xD1) into `block`, the whole 529-byte
// answer. Another feature or block size fails with kErrorInvalidParameter.
bool ReadSmart(os::StorageDevice& disks, std::string_view deviceName, std::uint8_t feature,
               std::span<std::uint8_t> block, os::OsError* error = nullptr);

bool QueryDeviceDescriptor(os::StorageDevice& disks, std::string_view deviceName, DeviceDescriptorTexts& record,
                           os::OsError* error = nullptr);

// The bytes per logical and per physical sector (access-alignment property).
bool QuerySectorSizes(os::StorageDevice& disks, std::string_view deviceName, SectorSizes& record,
                      os::OsError* error = nullptr);

// The input block of a SMART receive-drive-data request: the registers named here, every
// other register and the drive number 0.
std::array<std::uint8_t, os::smart_request::kSize> SmartRequestBlock(std::uint8_t command, std::uint8_t features,
                                                                     std::uint8_t cylinderLow,
                                                                     std::uint8_t cylinderHigh,
                                                                     std::uint32_t bufferSizeField);

// The texts of a device descriptor answer. A text is read from its offset up to a zero byte or
// the end of the answer; an offset of 0, or one outside the answer, gives an empty text.
DeviceDescriptorTexts DecodeDeviceDescriptor(std::span<const std::uint8_t> answer);

}  // namespace orv
