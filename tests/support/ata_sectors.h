// Identify and SMART sectors as a drive sends them, for tests that lay out disks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "model/disk_info.h"

namespace orv::testing {

// The model in word 27 on (first character in the high byte), a SATA/300 link, S.M.A.R.T and NCQ.
inline std::vector<std::uint8_t> IdentifySector(std::string_view model) {
  std::vector<std::uint8_t> sector(512, 0);
  for (std::size_t i = 0; i < 40; ++i) sector[54 + (i ^ 1)] = i < model.size() ? static_cast<std::uint8_t>(model[i]) : ' ';
  sector[152] = 0x06, sector[153] = 0x05;  // word 76: SATA/300, NCQ
  sector[160] = 0xF0, sector[161] = 0x01;  // word 80: ATA8-ACS
  sector[164] = 0x01;                      // word 82: S.M.A.R.T
  return sector;
}

// A SMART data sector with the given entries (id, raw), each with current value 100, worst 99.
inline std::vector<std::uint8_t> SmartSector(std::initializer_list<std::pair<std::uint8_t, std::uint64_t>> entries) {
  std::vector<std::uint8_t> sector(512, 0);
  std::size_t at = 2;
  for (const auto& [id, raw] : entries) {
    sector[at] = id;
    sector[at + 3] = 100;
    sector[at + 4] = 99;
    for (std::size_t b = 0; b < 7; ++b) sector[at + 5 + b] = static_cast<std::uint8_t>(raw >> (8 * b));
    at += 12;
  }
  return sector;
}

// The same as a whole SMART answer: 16 status bytes, then the sector.
inline SmartBlock SmartAnswer(std::initializer_list<std::pair<std::uint8_t, std::uint64_t>> entries) {
  SmartBlock block{};
  const std::vector<std::uint8_t> sector = SmartSector(entries);
  std::copy(sector.begin(), sector.end(), block.begin() + 16);
  return block;
}

}  // namespace orv::testing
