// The port map: which bay a disk sits in, from the address the storage service gives it.
//
// The model flags word carries three codes, each the lowest set bit of its range: the bay
// code (bits 0-7), the OS code (bits 8-13) and the platform code (bits 16-22). The platform
// code chooses the map; some platforms' maps also depend on the bay count and the OS code,
// because the same board was wired differently across generations.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

struct ModelCodes {
  std::uint32_t bayCode = 0;
  std::uint32_t osCode = 0;
  std::uint32_t platformCode = 0;
};

ModelCodes CodesOf(std::uint32_t modelFlags);
// Bay code 2 gives 2 bays, 16 gives 5, 128 gives 12, any other 4.
std::uint32_t BayCount(std::uint32_t bayCode);

// The storage service's bus type of a USB disk.
inline constexpr std::uint32_t kBusTypeUsb = 7;

// The port mask of a disk at `address` (empty: no address, mask 0) with the storage service's
// `busType` and `diskName`. An address the map does not list gives 32; so does the first bay's
// address where the map says a USB disk or a storage pool's virtual disk can appear there.
// Platforms without a map give 0 for every disk.
// The masks of the bays the platform's map can place a disk in, or'ed; 0 without a map. A bay
// outside them always looks empty, whatever it holds.
std::uint32_t AddressedBays(std::uint32_t modelFlags);

std::uint32_t PortMaskOf(std::uint32_t modelFlags, std::string_view address, std::uint32_t busType,
                         std::string_view diskName);

}  // namespace orv
