// The bays of the appliance: which slot a disk's port mask names, and the number and name
// that every message gives the disk there.
//
// A port mask has one bit per bay. The slots 0 to 11 have the masks 1, 2, 4, 8, 16, 64, 128,
// 256, 512, 1024, 2048 and 4096; 32 marks a disk outside the bays (USB, a storage pool's
// virtual disk, an unknown address) and 0 a disk without an address. Tavolen appliances count
// their bays from 0, Meridex appliances from 1, and the Meridex 5-bay line (model flags bit 4)
// calls its first bay "SSD".
#pragma once

#include <cstdint>
#include <string>

namespace orv {

inline constexpr std::uint32_t kMaskOutsideBays = 32;
inline constexpr std::uint32_t kMaskNoAddress = 0;
inline constexpr std::uint32_t kBaySlotCount = 12;

// The slot index of a bay's mask; 0 for any mask that names no bay.
std::uint32_t SlotIndexOf(std::uint32_t portMask);
// The number the disk monitors print as "HDD%d"; -1 for a mask that names no bay.
std::int32_t BayNumber(std::uint32_t portMask, bool meridexBrand);
// The name the status message shows ("HDD0", "SSD", ...); empty for a mask that names no bay.
std::string BayName(std::uint32_t portMask, bool meridexBrand, std::uint32_t modelFlags);
// The mask of slot `slotIndex` (0 to 11); 0 beyond the last slot.
std::uint32_t SlotMask(std::uint32_t slotIndex);

}  // namespace orv
