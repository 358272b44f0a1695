// What happened to the machine while monitoring was not running: a new computer name, a new
// system start, an unexpected shutdown before it, a memory dump after a stop error.
//
// All memory of these checks is in the registry (the last name and the creation times of the
// newest entries seen), so they run once per start of monitoring and compare with what the
// previous start stored. A first start stores and reports nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "model/event_queue.h"
#include "os/os_ports.h"
#include "platform/reg_handle.h"

namespace orv {

class SystemStateMonitor {
 public:
  SystemStateMonitor(const os::OsPorts& os, EventQueue& queue);

  // Host name, system start and unexpected shutdown, stop error, in that order.
  void Check();

 private:
  struct StoredTime {
    std::string_view low;
    std::string_view high;
  };

  void CheckHostName();
  void CheckStartAndShutdown();
  void CheckStopError();
  // The creation time of the newest entry the query selects in the System log; none when the
  // query fails or selects nothing.
  std::optional<std::uint64_t> NewestEntryTime(std::string_view filter);
  // A pair reads as missing when both halves are unreadable or hold the missing marker.
  std::optional<std::uint64_t> ReadPair(StoredTime pair) const;
  void StorePair(StoredTime pair, std::uint64_t time) const;
  // Stores 0 and 0 when the pair is missing, so that the first entry of its kind counts as new.
  void StoreZeroWhenMissing(StoredTime pair) const;
  // True when `newest` differs from a stored time; a missing pair takes `newest` silently.
  bool TakeNewest(StoredTime pair, std::optional<std::uint64_t> newest) const;
  void Post(std::int32_t actId, std::string_view para, std::string msg);

  os::OsPorts os_;
  EventQueue& queue_;
  RegHandle common_;
};

}  // namespace orv
