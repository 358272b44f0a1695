// RaidBuild: the storage layout of one pass, read from the Virtual Disk Service.
//
// Each disk gets its bay from the port map; each volume gets its drive letter from the
// service's letter list and, from the disks that hold its extents, its member mask (the bays
// of a RAID volume), whether a member is offline and whether it lives on a USB or eSATA disk.
// A layout that could not be read is empty and says so: the disk monitors must not take an
// unreadable layout for empty bays.
#pragma once

#include <cstdint>
#include <vector>

#include "model/layout_entries.h"
#include "os/virtual_disk_service.h"

namespace orv {

class RaidBuild {
 public:
  RaidBuild(os::VirtualDiskService& service, std::uint32_t modelFlags);
  // Builds the layout from a snapshot the service gave.
  RaidBuild(const os::VdsSnapshot& snapshot, std::uint32_t modelFlags);

  bool Initialized() const { return initialized_; }
  os::OsError Error() const { return error_; }
  const std::vector<LayoutDisk>& Disks() const { return disks_; }
  const std::vector<LayoutVolume>& Volumes() const { return volumes_; }

 private:
  void Build(const os::VdsSnapshot& snapshot, std::uint32_t modelFlags);

  bool initialized_ = false;
  os::OsError error_ = 0;
  std::vector<LayoutDisk> disks_;
  std::vector<LayoutVolume> volumes_;
};

}  // namespace orv
