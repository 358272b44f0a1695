// The Virtual Disk Service: the disks and volumes of the machine as the storage layout sees
// them. The adapter loads the service, walks its software providers' packs and hands back plain
// records; what they mean for bays and RAID volumes is worked out in portable code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os_error.h"

namespace orv::os {

// The service's own numbers, as its property records hold them.
namespace vds {
inline constexpr std::uint32_t kDiskOnline = 1;      // disk status
inline constexpr std::uint32_t kHealthy = 1;         // health
inline constexpr std::uint32_t kRebuilding = 2;      // health
inline constexpr std::uint32_t kVolumeNoMedia = 3;   // volume status
inline constexpr std::uint32_t kBusTypeUsb = 7;      // bus type
inline constexpr std::uint32_t kMediaFixed = 12;     // media type of fixed disks
}  // namespace vds

struct VdsDiskRecord {
  std::string id;  // the disk's identifier as "{xxxxxxxx-...}"
  std::uint32_t status = 0;
  std::uint32_t health = 0;
  std::uint32_t mediaType = 0;
  std::uint32_t busType = 0;
  std::uint32_t partitionStyle = 0;
  std::string diskAddress;   // "Port0Path0Target0Lun0"
  std::string deviceName;    // "\\?\PhysicalDrive0"
  std::string friendlyName;  // the model text
};

struct VdsVolumeRecord {
  std::string id;    // the volume's identifier as "{xxxxxxxx-...}"
  std::string name;  // "\\?\GLOBALROOT\Device\HarddiskVolume2"
  std::uint32_t type = 0;  // 10 simple ... 14 parity
  std::uint32_t status = 0;
  std::uint32_t health = 0;
  std::uint32_t fileSystemType = 0;  // 1 RAW ... 9 ReFS; 0 when the file system is unknown
  // The disks that hold the volume's extents, over all its plexes, in walk order (repeats
  // allowed).
  std::vector<std::string> extentDiskIds;
};

// One entry of the service's drive-letter list.
struct VdsDriveLetter {
  char16_t letter = u'\0';
  std::string volumeId;  // the volume it names; meaningful only when `used`
  bool used = false;
};

struct VdsSnapshot {
  std::vector<VdsDiskRecord> disks;  // each disk once
  std::vector<VdsVolumeRecord> volumes;
  std::vector<VdsDriveLetter> driveLetters;
};

class VirtualDiskService {
 public:
  virtual ~VirtualDiskService() = default;

  // Loads the service of the local machine, waits a bounded time for it to be ready, and
  // lists its disks, volumes and drive letters into `snapshot` (cleared first). False with
  // `error` when the service cannot be loaded or does not become ready: the storage layout is
  // then not initialised. `error` is then the failing COM call's HRESULT (0x80040154 when the
  // loader class is not registered; 0x800705B4, a time-out, when the service never became
  // ready). A disk or volume whose properties cannot be read is left out.
  virtual bool Enumerate(VdsSnapshot& snapshot, OsError& error) = 0;
};

}  // namespace orv::os
