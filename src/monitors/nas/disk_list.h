// The disk list: one DiskInfo per disk the storage layout lists, with its bay, its identity
// and its SMART data, read the way every monitoring pass reads them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/disk_info.h"
#include "model/layout_entries.h"
#include "os/storage_device.h"

namespace orv {

// The storage service's media type of fixed disks; only these are read for SMART.
inline constexpr std::uint32_t kMediaTypeFixed = 12;

// One present disk: bay, descriptor texts, sector sizes, SMART blocks with the temperature,
// power-on hours and power cycles, and the identify texts. A read that fails leaves its part
// empty or zero; none of them is an error for the caller.
DiskInfo ReadLayoutDisk(os::StorageDevice& disks, const LayoutDisk& entry, bool meridexBrand,
                        std::uint32_t modelFlags);

// ReadLayoutDisk for every disk, in the layout's order.
std::vector<DiskInfo> BuildDiskList(os::StorageDevice& disks, std::span<const LayoutDisk> layout, bool meridexBrand,
                                    std::uint32_t modelFlags);

}  // namespace orv
