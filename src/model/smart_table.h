// The attribute table of a SMART READ DATA sector, walked the one way both the attribute
// lookup and the status message walk it, so that a disk never reports an attribute in one
// place that the other does not know.
//
// Entries are 12 bytes: id, two flag bytes, current value, worst value, six raw bytes (least
// significant first), one reserved byte. An entry counts only when its id is above the id of
// the last entry that counted and below 251; others are skipped, not an end. The table has 30
// entries (sector bytes 2 to 361); what follows them is the offline-collection and self-test
// data and the vendor's bytes, which read as entries would report attributes the disk never
// had (a Seagate ST9100821AS shows an "attribute 223" there). The walk never reads an entry
// that does not lie wholly inside the block, however short the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orv {

inline constexpr std::size_t kSmartSectorSize = 512;
inline constexpr std::size_t kSmartEntrySize = 12;
inline constexpr std::size_t kSmartTableEntries = 30;
inline constexpr std::uint8_t kSmartFirstVendorId = 251;  // ids from here on are never read

namespace smart_entry {
inline constexpr std::size_t kId = 0;
inline constexpr std::size_t kCurrent = 3;
inline constexpr std::size_t kWorst = 4;
inline constexpr std::size_t kRaw = 5;       // six bytes, least significant first
inline constexpr std::size_t kReserved = 11;  // Seagate disks carry a seventh raw byte here
inline constexpr std::size_t kThreshold = 1;  // in the threshold sector's entry at the same place
}  // namespace smart_entry

// Where the table starts in a block: the 529-byte answer of a SMART read has 16 bytes of
// request status before the sector, a bare sector has none; the table is at byte 2 of the
// sector. Any other size is no SMART block.
constexpr std::optional<std::size_t> SmartTableStart(std::size_t blockSize) {
  if (blockSize == 529) return 18;
  if (blockSize == kSmartSectorSize) return 2;
  return std::nullopt;
}

// Calls `visit(offset)` with the block offset of every entry that counts, in block order,
// until `visit` returns false.
template <typename Visit>
void WalkSmartTable(std::span<const std::uint8_t> block, std::size_t tableStart, Visit visit) {
  unsigned lastId = 0;
  for (std::size_t entry = 0, at = tableStart;
       entry < kSmartTableEntries && at <= block.size() && block.size() - at >= kSmartEntrySize;
       ++entry, at += kSmartEntrySize) {
    const unsigned id = block[at + smart_entry::kId];
    if (id <= lastId || id >= kSmartFirstVendorId) continue;
    lastId = id;
    if (!visit(at)) return;
  }
}

// The raw value of the entry at `offset`: six bytes, or seven with the reserved byte.
inline std::uint64_t SmartRawValue(std::span<const std::uint8_t> block, std::size_t offset, bool sevenBytes) {
  std::uint64_t raw = 0;
  for (std::size_t b = sevenBytes ? 7 : 6; b > 0; --b) raw = (raw << 8) | block[offset + smart_entry::kRaw + b - 1];
  return raw;
}

}  // namespace orv
