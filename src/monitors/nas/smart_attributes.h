// SMART attributes: finding one in a SMART data block, and the value the agent reads from it.
//
// A block is either the whole 529-byte answer of a SMART read or a bare 512-byte sector; any
// other size finds nothing. The table is walked as WalkSmartTable (model/smart_table.h) walks
// it, so a lookup and the status message agree on which entries exist.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orv {

inline constexpr std::uint8_t kAttributePowerOnHours = 9;
inline constexpr std::uint8_t kAttributePowerCycles = 12;
inline constexpr std::uint8_t kAttributeTemperature = 194;

// Seagate disks (model text beginning "ST") keep a seventh raw byte and pack several numbers
// into their raw values.
bool IsSeagateModel(std::string_view model);

// The first counted entry with `id`: its raw number (seven bytes for a Seagate model, six
// otherwise) and its interpreted value. False, with both left at all ones, when the block has
// no such entry or a size that is no SMART block.
bool FindSmartAttribute(std::span<const std::uint8_t> block, std::uint8_t id, std::uint64_t& raw,
                        std::uint64_t& value, std::string_view model);

// The current value byte of the first counted entry with `id`; false, with `value` left at
// all ones, when there is none.
bool SmartCurrentValue(std::span<const std::uint8_t> block, std::uint8_t id, std::uint8_t& value);

// The number the agent reads from attribute `id`'s raw number.
// Seagate: 1 bits 32-55; 5, 9, 12, 197, 198, 199 the low 32 bits; 7 bits 32-47; 194 the low 16
// bits. Others: 194 the low 8 bits. Everything else is the raw number itself.
std::uint64_t InterpretedSmartValue(std::uint8_t id, std::uint64_t raw, bool seagate);

}  // namespace orv
