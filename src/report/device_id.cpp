#include "report/device_id.h"

#include <algorithm>

namespace orv {

namespace {

// The text shows the three leading fields as numbers, so their little-endian bytes reverse.
constexpr int kTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormatDeviceId(const DeviceId& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(32);
  for (const int index : kTextOrder) {
    const std::uint8_t byte = id[static_cast<std::size_t>(index)];
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

bool IsZeroDeviceId(const DeviceId& id) {
  return std::all_of(id.begin(), id.end(), [](std::uint8_t byte) { return byte == 0; });
}

DeviceId ParseDeviceIdText(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (c != '{' && c != '}' && c != '-') digits.push_back(c);
  }
  DeviceId id{};
  if (digits.size() != 32) return id;
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = HexDigit(digits[2 * i]);
    const int low = HexDigit(digits[2 * i + 1]);
    // A stray character would otherwise store a half-read identifier as if it were valid.
    if (high < 0 || low < 0) return DeviceId{};
    id[static_cast<std::size_t>(kTextOrder[i])] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return id;
}

}  // namespace orv
