// The device identifier the cloud assigns at registration: a GUID in its binary layout
// (32-bit, 16-bit, 16-bit, 8 bytes; the numbers little-endian), all zero when unregistered.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orv {

using DeviceId = std::array<std::uint8_t, 16>;

// The GUID's standard text without braces and hyphens, upper case: 32 hexadecimal digits.
std::string FormatDeviceId(const DeviceId& id);
bool IsZeroDeviceId(const DeviceId& id);

}  // namespace orv
