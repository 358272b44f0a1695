// System error codes as the ports report them.
//
// Ports speak the Windows error vocabulary (a 32-bit code, 0 for success) because the agent's
// event-log entries print these codes and their system texts; host fakes return the same codes.
#pragma once

#include <cstdint>

namespace orv::os {

using OsError = std::uint32_t;

inline constexpr OsError kSuccess = 0;
inline constexpr OsError kErrorFileNotFound = 2;
inline constexpr OsError kErrorAccessDenied = 5;
inline constexpr OsError kErrorInvalidHandle = 6;
inline constexpr OsError kErrorNotEnoughMemory = 8;
inline constexpr OsError kErrorInvalidData = 13;
inline constexpr OsError kErrorNotSupported = 50;
inline constexpr OsError kErrorInvalidParameter = 87;
inline constexpr OsError kErrorMoreData = 234;
inline constexpr OsError kErrorNoMoreItems = 259;
inline constexpr OsError kErrorKeyDeleted = 1018;
inline constexpr OsError kErrorServiceDoesNotExist = 1060;
inline constexpr OsError kErrorServiceExists = 1073;
inline constexpr OsError kErrorServiceMarkedForDelete = 1072;
inline constexpr OsError kErrorFailedServiceControllerConnect = 1063;

}  // namespace orv::os
