// Disk device control requests: SMART commands and storage property queries, raw bytes in and
// out, so that building the requests and reading the answers stay portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

// The input block of a SMART receive-drive-data request (the system's SENDCMDINPARAMS, byte
// packed): the buffer-size field, the eight ATA registers, the drive number, reserved bytes
// and the one-byte data buffer that ends the structure.
namespace smart_request {
inline constexpr std::size_t kSize = 33;
inline constexpr std::size_t kBufferSize = 0;  // 32-bit, little-endian
inline constexpr std::size_t kFeatures = 4;
inline constexpr std::size_t kSectorCount = 5;
inline constexpr std::size_t kSectorNumber = 6;
inline constexpr std::size_t kCylinderLow = 7;
inline constexpr std::size_t kCylinderHigh = 8;
inline constexpr std::size_t kDriveHead = 9;
inline constexpr std::size_t kCommand = 10;
inline constexpr std::size_t kDriveNumber = 12;
// The answer (SENDCMDOUTPARAMS) holds its data after this many bytes of request status.
inline constexpr std::size_t kAnswerStatusSize = 16;
}  // namespace smart_request

// Storage property identifiers the agent queries.
inline constexpr std::uint32_t kStorageDeviceProperty = 0;
inline constexpr std::uint32_t kStorageAccessAlignmentProperty = 6;

class StorageDevice {
 public:
  virtual ~StorageDevice() = default;

  // Opens the disk at `deviceName` (an existing device, shared for reading and writing),
  // sends one SMART receive-drive-data request with the input block `request`, and closes the
  // disk before returning. `answer` gets the bytes the driver returned, at most `answerSize`;
  // false with `error` and no bytes when the disk cannot be opened or the request fails.
  virtual bool SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request,
                            std::size_t answerSize, std::vector<std::uint8_t>& answer, OsError& error) = 0;

  // The same for a standard storage property query of `propertyId`.
  virtual bool QueryProperty(std::string_view deviceName, std::uint32_t propertyId, std::size_t answerSize,
                             std::vector<std::uint8_t>& answer, OsError& error) = 0;
};

}  // namespace orv::os
