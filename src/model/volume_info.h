// VolumeInfo: one volume with a drive letter, as the volume monitor lists it.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

struct VolumeInfo {
  char16_t driveLetter = u'\0';
  std::uint32_t status = 0;  // 3: no media
  std::uint32_t health = 0;  // 1 healthy, 2 rebuilding
  std::uint32_t layoutType = 0;
  std::uint32_t fileSystemCode = 0;  // 5 CDFS and 6 UDF mark optical media
  std::string layoutName;
  std::string fileSystemName;
  std::string volumeName;
  std::string diskModel;
  std::string diskName;
  std::uint32_t usb = 0;
  std::uint32_t esata = 0;
  std::uint64_t freeToCaller = 0;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalFree = 0;
  std::uint64_t usedBytes = 0;
  std::uint32_t usedPercent = 0;
  std::uint32_t memberMask = 0;
};

}  // namespace orv
