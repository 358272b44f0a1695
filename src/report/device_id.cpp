#include "report/device_id.h"

#include <algorithm>

namespace orv {

std::string FormatDeviceId(const DeviceId& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // The text shows the three leading fields as numbers, so their little-endian bytes reverse.
  static constexpr int kTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
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

}  // namespace orv
