#include "monitors/nas/smart_attributes.h"

#include <optional>

#include "model/smart_table.h"

namespace orv {
namespace {

// The block offset of the first counted entry with `id`.
std::optional<std::size_t> FindEntry(std::span<const std::uint8_t> block, std::uint8_t id) {
  const std::optional<std::size_t> start = SmartTableStart(block.size());
  if (!start) return std::nullopt;
  std::optional<std::size_t> found;
  WalkSmartTable(block, *start, [&](std::size_t at) {
    if (block[at + smart_entry::kId] != id) return true;
    found = at;
    return false;
  });
  return found;
}

}  // namespace

bool IsSeagateModel(std::string_view model) { return model.starts_with("ST"); }

std::uint64_t InterpretedSmartValue(std::uint8_t id, std::uint64_t raw, bool seagate) {
  if (!seagate) return id == 194 ? (raw & 0xFF) : raw;
  switch (id) {
    case 1: return (raw >> 32) & 0xFFFFFF;
    case 5:
    case 9:
    case 12:
    case 197:
    case 198:
    case 199: return raw & 0xFFFFFFFF;
    case 7: return (raw >> 32) & 0xFFFF;
    case 194: return raw & 0xFFFF;
    default: return raw;
  }
}

bool FindSmartAttribute(std::span<const std::uint8_t> block, std::uint8_t id, std::uint64_t& raw,
                        std::uint64_t& value, std::string_view model) {
  raw = value = ~std::uint64_t{0};
  const std::optional<std::size_t> at = FindEntry(block, id);
  if (!at) return false;
  const bool seagate = IsSeagateModel(model);
  raw = SmartRawValue(block, *at, seagate);
  value = InterpretedSmartValue(id, raw, seagate);
  return true;
}

bool SmartCurrentValue(std::span<const std::uint8_t> block, std::uint8_t id, std::uint8_t& value) {
  value = 0xFF;
  const std::optional<std::size_t> at = FindEntry(block, id);
  if (!at) return false;
  value = block[*at + smart_entry::kCurrent];
  return true;
}

}  // namespace orv
