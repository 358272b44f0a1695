// The ids of the agent's own entries in the Application event log, in one place so that the
// code that writes an entry, the tests that expect it and the message table that Event Viewer
// reads (service/agent_messages.mc, checked against this list by a test) cannot drift apart.
//
// The top two bits are the level Event Viewer shows: 0x4 information, 0x8 warning, 0xC error.
#pragma once

#include <array>
#include <cstdint>

namespace orv::event_id {

// Failures of the service framework itself (under the display name, not under "ORVSVC").
inline constexpr std::uint32_t kFrameworkError = 0x00000000;

inline constexpr std::uint32_t kServiceStarted = 0x4000044C;
inline constexpr std::uint32_t kUnregistered = 0x4000044D;
inline constexpr std::uint32_t kMonitoringStopped = 0x4000044E;
inline constexpr std::uint32_t kMonitoring = 0x4000044F;
inline constexpr std::uint32_t kUpdateStarted = 0x40000450;
inline constexpr std::uint32_t kDailyCheckStarted = 0x40000451;
inline constexpr std::uint32_t kStartupCheckStarted = 0x40000452;
inline constexpr std::uint32_t kDefinitionUpdateStarted = 0x40000454;
inline constexpr std::uint32_t kSoftwareCheckStarted = 0x40000455;

inline constexpr std::uint32_t kDeviceUnknown = 0x800004B0;
inline constexpr std::uint32_t kBaysNotWatched = 0x800004B1;
inline constexpr std::uint32_t kUntrustedNamedEvent = 0x800004B2;

inline constexpr std::uint32_t kPoolCreateFailed = 0xC0000514;
inline constexpr std::uint32_t kDefinitionWriteFailed = 0xC0000515;
inline constexpr std::uint32_t kDefinitionUnreadable = 0xC0000516;
inline constexpr std::uint32_t kDefinitionMalformed = 0xC0000517;
inline constexpr std::uint32_t kStoppedWithReason = 0xC0000518;
inline constexpr std::uint32_t kInstallerMissing = 0xC0000519;
inline constexpr std::uint32_t kSettingsRecordNotSent = 0xC000051A;
inline constexpr std::uint32_t kDiskInfoFailed = 0xC000051B;
inline constexpr std::uint32_t kVolumeInfoFailed = 0xC000051C;
inline constexpr std::uint32_t kNetworkInfoFailed = 0xC000051D;
inline constexpr std::uint32_t kWindowsUpdateInfoFailed = 0xC000051E;
inline constexpr std::uint32_t kDriverInfoFailed = 0xC000051F;
inline constexpr std::uint32_t kRegistrationTransportFailed = 0xC0000520;
inline constexpr std::uint32_t kRegistrationFailed = 0xC0000521;
inline constexpr std::uint32_t kSoftwareTransportFailed = 0xC0000522;
inline constexpr std::uint32_t kSoftwareFailed = 0xC0000523;
inline constexpr std::uint32_t kPoolMissing = 0xC0000524;
inline constexpr std::uint32_t kUploaderConfigWriteFailed = 0xC0000525;
inline constexpr std::uint32_t kUploaderFailed = 0xC0000526;
inline constexpr std::uint32_t kUploaderMissing = 0xC0000527;
inline constexpr std::uint32_t kDownloadFailed = 0xC0000528;
inline constexpr std::uint32_t kUpdateFileFailed = 0xC0000529;
inline constexpr std::uint32_t kSignatureRejected = 0xC000052A;
inline constexpr std::uint32_t kJsonWriteFailed = 0xC000052B;

inline constexpr std::array kAll{
    kFrameworkError,          kServiceStarted,         kUnregistered,          kMonitoringStopped,
    kMonitoring,              kUpdateStarted,          kDailyCheckStarted,     kStartupCheckStarted,
    kDefinitionUpdateStarted, kSoftwareCheckStarted,   kDeviceUnknown,         kBaysNotWatched,        kPoolCreateFailed,
    kDefinitionWriteFailed,   kDefinitionUnreadable,   kDefinitionMalformed,   kStoppedWithReason,
    kInstallerMissing,        kSettingsRecordNotSent,  kDiskInfoFailed,        kVolumeInfoFailed,
    kNetworkInfoFailed,       kWindowsUpdateInfoFailed, kDriverInfoFailed,     kRegistrationTransportFailed,
    kRegistrationFailed,      kSoftwareTransportFailed, kSoftwareFailed,       kPoolMissing,
    kUploaderConfigWriteFailed, kUploaderFailed,       kUploaderMissing,       kDownloadFailed,
    kUpdateFileFailed,        kSignatureRejected,      kJsonWriteFailed,
    kUntrustedNamedEvent,
};

}  // namespace orv::event_id
