#include "monitors/nas/bay_tables.h"

#include <array>
#include <optional>

namespace orv {
namespace {

// 32 is skipped: it has always meant "outside the bays".
constexpr std::array<std::uint32_t, kBaySlotCount> kSlotMasks = {1, 2, 4, 8, 16, 64, 128, 256, 512, 1024, 2048, 4096};
constexpr std::uint32_t kFiveBayLine = 0x10;

std::optional<std::uint32_t> Slot(std::uint32_t portMask) {
  for (std::uint32_t slot = 0; slot < kSlotMasks.size(); ++slot) {
    if (kSlotMasks[slot] == portMask) return slot;
  }
  return std::nullopt;
}

}  // namespace

std::uint32_t SlotIndexOf(std::uint32_t portMask) { return Slot(portMask).value_or(0); }

std::uint32_t SlotMask(std::uint32_t slotIndex) {
  return slotIndex < kSlotMasks.size() ? kSlotMasks[slotIndex] : 0;
}

std::int32_t BayNumber(std::uint32_t portMask, bool meridexBrand) {
  const std::optional<std::uint32_t> slot = Slot(portMask);
  if (!slot) return -1;
  // The fifth slot is bay 5 on both brands: Tavolen's numbering skips 4 there.
  if (*slot >= 4) return static_cast<std::int32_t>(*slot) + 1;
  return static_cast<std::int32_t>(*slot) + (meridexBrand ? 1 : 0);
}

std::string BayName(std::uint32_t portMask, bool meridexBrand, std::uint32_t modelFlags) {
  const std::optional<std::uint32_t> slot = Slot(portMask);
  if (!slot) return {};
  if (meridexBrand && (modelFlags & kFiveBayLine) != 0) {
    // The 5-bay line's first bay holds the system SSD; the data bays after it keep the
    // Tavolen names.
    if (*slot == 0) return "SSD";
    return "HDD" + std::to_string(BayNumber(portMask, false));
  }
  return "HDD" + std::to_string(BayNumber(portMask, meridexBrand));
}

}  // namespace orv
