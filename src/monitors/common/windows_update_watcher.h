// The daily Windows Update search, on a watcher thread of its own.
//
// A search can take minutes, so it never runs on the controller's thread: this thread leaves its
// result in the registry (the common key) and the Windows Update check reads it from there. The
// time of the last search is stored too, so a restarted agent does not search again the same day.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "os/clock.h"
#include "os/os_ports.h"

namespace orv {

// What the search leaves in the common key. The count and the restart need are removed while a
// search runs, so a reader sees "not known yet" rather than the previous day's numbers.
inline constexpr std::string_view kWinUpdateLastCheckValue = "WinUpdateLastCheck";  // SYSTEMTIME, local
inline constexpr std::string_view kWinUpdateNumValue = "WinUpdateNum";
inline constexpr std::string_view kReqRebootValue = "ReqReboot";

// How often the thread looks whether the search is due.
inline constexpr std::uint32_t kUpdateWatchIntervalMs = 60000;

// Runs until `stop` is set (or a wait fails); a search under way is aborted by the stop and
// leaves nothing behind. `os` is the thread's own copy.
void RunWindowsUpdateWatcher(os::OsPorts os, os::Event& stop);

// The stored form of a time: SYSTEMTIME's eight 16-bit fields, little-endian.
std::vector<std::uint8_t> EncodeSystemTime(const os::CalendarTime& time);
// nullopt unless `bytes` is exactly one SYSTEMTIME.
std::optional<os::CalendarTime> DecodeSystemTime(std::span<const std::uint8_t> bytes);

}  // namespace orv
