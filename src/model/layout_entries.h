// What the storage layout knows of the machine's disks and volumes, with the bays and RAID
// members already worked out; the disk and volume lists are built from these.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

struct LayoutDisk {
  std::string diskAddress;   // "Port0Path0Target0Lun0"
  std::string deviceName;    // the path the disk is opened through
  std::string friendlyName;  // the model text
  std::uint32_t mediaType = 0;
  std::uint32_t busType = 0;
  std::uint32_t portMask = 0;  // from the port map
  std::uint32_t status = 0;    // 1 online
  std::uint32_t health = 0;
};

struct LayoutVolume {
  char16_t driveLetter = u'\0';  // none
  std::string name;
  std::string id;  // the identifier text the encryption library knows the volume by
  std::uint32_t layoutType = 0;
  std::uint32_t status = 0;
  std::uint32_t health = 0;
  std::uint32_t fileSystemCode = 0;
  std::uint32_t memberMask = 0;  // the port masks of the disks that hold its extents
  std::uint32_t offlineMember = 0;
  std::uint32_t usb = 0;
  std::uint32_t esata = 0;
  std::string diskName;  // the device name of the last USB or eSATA disk under it
};

}  // namespace orv
