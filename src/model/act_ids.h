// The act ids of the events the agent posts, in one place: every monitor, the controller and
// the tests take an id from here, so no test can expect an id that nothing posts and no two
// monitors can drift apart on a shared one.
#pragma once

#include <cstdint>

namespace orv::act_id {

inline constexpr std::int32_t kUnexpectedShutdown = 1010;  // the system stopped without a shutdown
inline constexpr std::int32_t kMemoryDump = 1020;  // a memory dump was written
inline constexpr std::int32_t kResumed = 1030;  // the system resumed from sleep
inline constexpr std::int32_t kSleeping = 1040;  // the system goes to sleep
inline constexpr std::int32_t kSystemStarted = 1050;  // the system started
inline constexpr std::int32_t kShutdown = 1060;  // the system shuts down
inline constexpr std::int32_t kHostRenamed = 1070;  // the computer name changed
inline constexpr std::int32_t kAddressChanged = 1080;  // an adapter's address changed
inline constexpr std::int32_t kDnsServerChanged = 1090;  // an adapter's DNS servers changed
inline constexpr std::int32_t kGatewayChanged = 1100;  // an adapter's default gateway changed
inline constexpr std::int32_t kUpdatePolicyChanged = 1110;  // the automatic-update policy changed
inline constexpr std::int32_t kUpdatesInstalled = 1120;  // updates were installed
inline constexpr std::int32_t kSoftwareInstalled = 1140;  // a program was installed
inline constexpr std::int32_t kSoftwareUninstalled = 1150;  // a program was removed
inline constexpr std::int32_t kBackupFailed = 2010;  // a backup run failed (backup tasks and Windows Server Backup)
inline constexpr std::int32_t kVolumeDegraded = 3010;  // a volume lost its redundancy
inline constexpr std::int32_t kRaidMode = 3020;  // the RAID mode changed
inline constexpr std::int32_t kLowSpace = 3030;  // a volume runs out of space
inline constexpr std::int32_t kSmartAttention = 4010;  // a disk's SMART values need attention
inline constexpr std::int32_t kSmartChanged = 4020;  // a disk's SMART values changed
inline constexpr std::int32_t kUpsConnectionLost = 4030;  // the UPS connection was lost
inline constexpr std::int32_t kUpsDegraded = 4040;  // the UPS degraded
inline constexpr std::int32_t kDiskTemperature = 4050;  // a disk is too hot
inline constexpr std::int32_t kCpuTemperature = 4060;  // the CPU is too hot
inline constexpr std::int32_t kCaseFan = 4070;  // the case fan is too slow
inline constexpr std::int32_t kCpuFan = 4080;  // the CPU fan is too slow
inline constexpr std::int32_t kDriveConnected = 4090;  // a removable drive was connected
inline constexpr std::int32_t kDriveRemoved = 4100;  // a removable drive was removed
inline constexpr std::int32_t kDriverUpdated = 4110;  // a driver was updated
inline constexpr std::int32_t kDiskDropOut = 4120;  // a disk dropped out of its bay
inline constexpr std::int32_t kDiskReplaced = 4130;  // a disk was replaced
inline constexpr std::int32_t kBareboneExchanged = 4140;  // the appliance's board was exchanged
inline constexpr std::int32_t kDiskError = 4150;  // a disk reported errors
inline constexpr std::int32_t kPowerScheduleChanged = 5030;  // the power schedule changed
inline constexpr std::int32_t kMailSettingsChanged = 5040;  // the mail settings changed
inline constexpr std::int32_t kEncryption = 5050;  // a volume's encryption changed
inline constexpr std::int32_t kInitialised = 5060;  // the agent was initialised
inline constexpr std::int32_t kTestNotice = 9010;  // a test notice asked for by the settings program
inline constexpr std::int32_t kTestStatus = 10000;  // a test status asked for by the settings program

}  // namespace orv::act_id
