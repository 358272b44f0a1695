// Events, waiting for any of several events, and threads.
//
// The controller waits only through this port, so a host fake can run its loops in simulated
// time: a finite wait that nothing ends advances the fake clock instead of sleeping.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// How a signalled event is cleared: only by Reset (manual), or by the first wait that sees it
// (auto, which a zero-time wait consumes too).
enum class EventReset { Manual, Auto };

// A kernel event; closed when destroyed.
class Event {
 public:
  virtual ~Event() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
};

// A running thread; destroying it does not stop the thread, only forgets it.
class Thread {
 public:
  virtual ~Thread() = default;
  // True when the thread ended within `timeoutMs`.
  virtual bool Join(std::uint32_t timeoutMs) = 0;
};

class Synchronization {
 public:
  virtual ~Synchronization() = default;

  // A new event, not signalled. An empty name makes an unnamed event.
  virtual OsResult<Event> NewEvent(EventReset reset, std::string_view name) = 0;
  // Opens an existing named event with all access.
  virtual OsResult<Event> OpenNamedEvent(std::string_view name) = 0;
  // Index of the first signalled event (an auto-reset event is consumed), kWaitTimeout, or
  // kWaitFailed. `timeoutMs` may be kInfinite.
  virtual std::uint32_t WaitAny(std::span<Event* const> events, std::uint32_t timeoutMs) = 0;
  // The error when the thread could not be started.
  virtual OsResult<Thread> StartThread(std::function<void()> body) = 0;

  // --- Named events other programs must not steer ---
  // Creates the named event with the security descriptor `sddl` (SDDL text). When the name
  // exists already, the existing event is opened and `existingOwner` holds its owner's SID
  // ("S-1-5-18"; empty when it cannot be read); for a new event it is left without a value.
  virtual OsResult<Event> NewSecuredEvent(EventReset reset, std::string_view name,
                                          std::string_view sddl,
                                          std::optional<std::string>& existingOwner) = 0;
};

}  // namespace orv::os
