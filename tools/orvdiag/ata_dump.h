// A dump of one ATA disk: its identify sector and, where it has them, its SMART status, SMART
// data and SMART threshold sectors.
//
// The file is a run of sections, each a four-character ASCII tag, a 32-bit big-endian length
// and that many bytes: IDFY (512-byte IDENTIFY DEVICE data as the drive sends it), SMST (4-byte
// SMART status), SMDT (512-byte SMART READ DATA sector), SMTH (512-byte SMART READ THRESHOLDS
// sector). IDFY is required, each section appears at most once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orv::diag {

using Sector = std::array<std::uint8_t, 512>;

struct AtaDump {
  Sector identify{};
  std::optional<std::array<std::uint8_t, 4>> smartStatus;
  std::optional<Sector> smartData;
  std::optional<Sector> smartThresholds;
};

// False with a one-line reason (no line end) when `bytes` is no such dump.
bool ParseAtaDump(std::span<const std::uint8_t> bytes, AtaDump& dump, std::string& error);

}  // namespace orv::diag
