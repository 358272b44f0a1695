#include "orvdiag/ata_dump.h"

#include <algorithm>
#include <string_view>

namespace orv::diag {
namespace {

// A tag as the error line shows it: its characters when all are printable ASCII, otherwise
// its bytes in hexadecimal, so that no byte of a broken file reaches the terminal.
std::string TagText(std::span<const std::uint8_t> tag) {
  if (std::all_of(tag.begin(), tag.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; })) {
    std::string text(1, '\'');
    text.append(tag.begin(), tag.end());
    return text += '\'';
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (const std::uint8_t c : tag) {
    text.push_back(kHex[c >> 4]);
    text.push_back(kHex[c & 0xF]);
  }
  return text;
}

template <std::size_t N>
bool Take(std::optional<std::array<std::uint8_t, N>>& slot, std::span<const std::uint8_t> body, std::string_view tag,
          std::string& error) {
  if (slot) {
    error = std::string("section ").append(tag).append(" appears twice");
    return false;
  }
  if (body.size() != N) {
    error = std::string("section ").append(tag).append(" has ").append(std::to_string(body.size()));
    error.append(" bytes, not ").append(std::to_string(N));
    return false;
  }
  slot.emplace();
  std::copy(body.begin(), body.end(), slot->begin());
  return true;
}

}  // namespace

bool ParseAtaDump(std::span<const std::uint8_t> bytes, AtaDump& dump, std::string& error) {
  dump = {};
  std::optional<Sector> identify;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 8) {
      error = "section header cut short at byte " + std::to_string(at);
      return false;
    }
    const std::span<const std::uint8_t> tagBytes = bytes.subspan(at, 4);
    const std::uint32_t length = static_cast<std::uint32_t>(bytes[at + 4]) << 24 |
                                 static_cast<std::uint32_t>(bytes[at + 5]) << 16 |
                                 static_cast<std::uint32_t>(bytes[at + 6]) << 8 | bytes[at + 7];
    at += 8;
    if (length > bytes.size() - at) {
      error = std::string("section ").append(TagText(tagBytes)).append(" claims ").append(std::to_string(length));
      error.append(" bytes, ").append(std::to_string(bytes.size() - at)).append(" remain");
      return false;
    }
    const std::span<const std::uint8_t> body = bytes.subspan(at, length);
    at += length;
    const std::string_view tag(reinterpret_cast<const char*>(tagBytes.data()), tagBytes.size());
    bool taken = false;
    if (tag == "IDFY") {
      taken = Take(identify, body, tag, error);
    } else if (tag == "SMST") {
      taken = Take(dump.smartStatus, body, tag, error);
    } else if (tag == "SMDT") {
      taken = Take(dump.smartData, body, tag, error);
    } else if (tag == "SMTH") {
      taken = Take(dump.smartThresholds, body, tag, error);
    } else {
      error = std::string("unknown section ").append(TagText(tagBytes)).append(" at byte ");
      error.append(std::to_string(at - length - 8));
    }
    if (!taken) return false;
  }
  if (!identify) {
    error = "no IDFY section";
    return false;
  }
  dump.identify = *identify;
  return true;
}

}  // namespace orv::diag
