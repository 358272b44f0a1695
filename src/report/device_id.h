// The device identifier the cloud assigns at registration: a GUID in its binary layout
// (32-bit, 16-bit, 16-bit, 8 bytes; the numbers little-endian), all zero when unregistered.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

using DeviceId = std::array<std::uint8_t, 16>;

// The GUID's standard text without braces and hyphens, upper case: 32 hexadecimal digits.
std::string FormatDeviceId(const DeviceId& id);
bool IsZeroDeviceId(const DeviceId& id);
// The identifier a server sends: braces and hyphens are dropped, and exactly 32 hexadecimal
// digits are read in the text's order; anything else gives the all-zero identifier.
DeviceId ParseDeviceIdText(std::string_view text);

}  // namespace orv
