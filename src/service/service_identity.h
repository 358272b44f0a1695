// The agent's identity towards the service control manager and the event log.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

inline constexpr std::string_view kServiceName = "ORVSVC";
inline constexpr std::string_view kServiceDisplayName = "Orvaneエージェントサービス";
inline constexpr std::string_view kServiceDescription = "Orvaneサービスへ情報を送信します。";
inline constexpr std::string_view kDispatchEntryName = "ORVSvcCtrl";

// The control manager's numbers.
inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceErrorNormal = 1;

inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceContinuePending = 5;
inline constexpr std::uint32_t kServicePausePending = 6;
inline constexpr std::uint32_t kServicePaused = 7;

inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;
inline constexpr std::uint32_t kControlParamChange = 6;
inline constexpr std::uint32_t kControlDeviceEvent = 11;
inline constexpr std::uint32_t kControlHardwareProfileChange = 12;
inline constexpr std::uint32_t kControlPowerEvent = 13;
inline constexpr std::uint32_t kControlPreShutdown = 15;

inline constexpr std::uint32_t kAcceptStop = 0x001;
inline constexpr std::uint32_t kAcceptShutdown = 0x004;
inline constexpr std::uint32_t kAcceptParamChange = 0x008;
inline constexpr std::uint32_t kAcceptPowerEvent = 0x040;
inline constexpr std::uint32_t kAcceptPreShutdown = 0x100;

}  // namespace orv
