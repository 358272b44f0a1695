#include "monitors/nas/port_map.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "monitors/nas/bay_tables.h"

namespace orv {
namespace {

std::uint32_t LowestBit(std::uint32_t flags, std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t bit = first; bit <= last; ++bit) {
    if (flags & (1U << bit)) return 1U << bit;
  }
  return 0;
}

// What may stand at the first bay's address instead of a bay disk.
enum class FirstBayRule { Bay, NotUsb, NotUsbNorPool };

struct PortEntry {
  std::string_view address;
  std::uint32_t mask;
};

struct PortMap {
  std::span<const PortEntry> entries;
  FirstBayRule firstBay = FirstBayRule::Bay;
  bool unknownPrefix = false;  // the first entry matches any address that begins with it
};

constexpr PortEntry kPort1Targets[] = {{"Port1Path0Target0Lun0", 1}, {"Port1Path0Target1Lun0", 2},
                                       {"Port1Path0Target2Lun0", 4}, {"Port1Path0Target3Lun0", 8}};
constexpr PortEntry kPort0Paths1To4[] = {{"Port0Path1Target0Lun0", 1}, {"Port0Path2Target0Lun0", 2},
                                         {"Port0Path3Target0Lun0", 4}, {"Port0Path4Target0Lun0", 8}};
constexpr PortEntry kTwoBay[] = {{"Port0Path0Target0Lun0", 1}, {"Port0Path1Target0Lun0", 2}};
constexpr PortEntry kSecondFourBay[] = {{"Port0Path0Target0Lun0", 1}, {"Port0Path0Target4Lun0", 2},
                                        {"Port1Path0Target0Lun0", 4}, {"Port2Path1Target0Lun0", 8}};
constexpr PortEntry kLcdFiveBay[] = {{"Port0Path0Target0Lun0", 1},  {"Port1Path0Target0Lun0", 2},
                                     {"Port1Path0Target1Lun0", 4},  {"Port1Path0Target2Lun0", 8},
                                     {"Port1Path0Target3Lun0", 16}};
constexpr PortEntry kLcdFourBayNewOs[] = {{"Port0Path0Target0Lun0", 1}, {"Port0Path1Target0Lun0", 2},
                                          {"Port0Path2Target0Lun0", 4}, {"Port0Path3Target0Lun0", 8}};
// The first bay of this line is an internal SSD whose address the storage service reports
// as unknown.
constexpr PortEntry kTemperatureFiveBay[] = {{"UNKNOWN", 1},
                                             {"Port1Path0Target0Lun0", 2},
                                             {"Port1Path0Target1Lun0", 4},
                                             {"Port1Path0Target2Lun0", 8},
                                             {"Port1Path0Target3Lun0", 16}};

std::optional<PortMap> MapFor(std::uint32_t modelFlags) {
  const ModelCodes codes = CodesOf(modelFlags);
  const std::uint32_t bays = BayCount(codes.bayCode);
  switch (codes.platformCode) {
    case 0x10000: return PortMap{kPort1Targets};
    case 0x20000: return PortMap{kPort0Paths1To4};
    case 0x40000: return PortMap{kTwoBay, FirstBayRule::NotUsbNorPool};
    case 0x80000: return PortMap{kSecondFourBay, FirstBayRule::NotUsbNorPool};
    case 0x100000:
      if (bays == 2) return PortMap{kTwoBay, FirstBayRule::NotUsb};
      if (bays == 5) return PortMap{kLcdFiveBay, FirstBayRule::NotUsb};
      if (codes.osCode == 2048 || codes.osCode == 4096 || codes.osCode == 8192) {
        return PortMap{kLcdFourBayNewOs, FirstBayRule::NotUsb};
      }
      return PortMap{kPort1Targets};
    case 0x200000:
      if (bays == 5) return PortMap{kTemperatureFiveBay, FirstBayRule::NotUsb, true};
      return PortMap{kPort1Targets};
    default: return std::nullopt;
  }
}

// The storage service names a storage pool's virtual disk "Microsoft Storage Space Device";
// the comparison ignores case so that no spelling of it is taken for a bay disk.
bool IsPoolDisk(std::string_view name) {
  constexpr std::string_view kPool = "MICROSOFT STORAGE SPACE DEVICE";
  const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  return std::search(name.begin(), name.end(), kPool.begin(), kPool.end(),
                     [&](char a, char b) { return upper(a) == b; }) != name.end();
}

}  // namespace

ModelCodes CodesOf(std::uint32_t modelFlags) {
  return {LowestBit(modelFlags, 0, 7), LowestBit(modelFlags, 8, 13), LowestBit(modelFlags, 16, 22)};
}

std::uint32_t BayCount(std::uint32_t bayCode) {
  switch (bayCode) {
    case 2: return 2;
    case 16: return 5;
    case 128: return 12;
    default: return 4;
  }
}

std::uint32_t AddressedBays(std::uint32_t modelFlags) {
  const std::optional<PortMap> map = MapFor(modelFlags);
  std::uint32_t masks = 0;
  if (map) {
    for (const PortEntry& entry : map->entries) masks |= entry.mask;
  }
  return masks;
}

std::uint32_t PortMaskOf(std::uint32_t modelFlags, std::string_view address, std::uint32_t busType,
                         std::string_view diskName) {
  const std::optional<PortMap> map = MapFor(modelFlags);
  if (!map || address.empty()) return kMaskNoAddress;
  for (std::size_t i = 0; i < map->entries.size(); ++i) {
    const PortEntry& entry = map->entries[i];
    const bool first = i == 0;
    const bool matches = first && map->unknownPrefix ? address.starts_with(entry.address) : address == entry.address;
    if (!matches) continue;
    if (first && map->firstBay != FirstBayRule::Bay) {
      if (busType == kBusTypeUsb) return kMaskOutsideBays;
      if (map->firstBay == FirstBayRule::NotUsbNorPool && IsPoolDisk(diskName)) return kMaskOutsideBays;
    }
    return entry.mask;
  }
  return kMaskOutsideBays;
}

}  // namespace orv
