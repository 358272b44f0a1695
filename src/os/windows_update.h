// Windows Update port: the updates waiting to be installed, and when Automatic Updates last
// succeeded.
//
// Results are HRESULTs, as the Windows Update Agent returns them: 0 success, negative a
// failure. The search may ask the update servers and last minutes, so it watches the caller's
// stop event and gives up soon after it is set; nothing else here waits on the network.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "os/clock.h"
#include "os/synchronization.h"

namespace orv::os {

using UpdateResult = std::int32_t;

constexpr UpdateResult UpdateCode(std::uint32_t code) { return static_cast<UpdateResult>(code); }

inline constexpr UpdateResult kUpdateOk = 0;
inline constexpr UpdateResult kUpdateNotImplemented = UpdateCode(0x80004001);  // E_NOTIMPL
inline constexpr UpdateResult kUpdateAborted = UpdateCode(0x80004004);         // E_ABORT
inline constexpr UpdateResult kUpdateFail = UpdateCode(0x80004005);            // E_FAIL

constexpr bool UpdateFailed(UpdateResult result) { return result < 0; }

// Whether installing an update restarts the machine, by the agent's stored numbers (which are
// also the Windows Update Agent's).
enum class RestartNeed : std::uint32_t { Never = 0, Always = 1, Possible = 2 };

struct PendingUpdates {
  std::uint32_t count = 0;
  // Of each update whose installation behaviour could be read, in the search's order.
  std::vector<RestartNeed> restarts;
};

// Local times (whole seconds); nullopt where Automatic Updates has never succeeded.
struct AutoUpdateTimes {
  UpdateResult result = kUpdateOk;
  std::optional<CalendarTime> lastInstallation;
  std::optional<CalendarTime> lastSearch;
};

class WindowsUpdate {
 public:
  virtual ~WindowsUpdate() = default;

  // Searches for software updates not installed yet: kUpdateOk with `found` set; kUpdateAborted
  // when `stop` was set before the search ended; another failure when the search could not be
  // made or did not complete. `found` is unchanged unless the result is kUpdateOk.
  virtual UpdateResult Search(Event& stop, PendingUpdates& found) = 0;
  // When Automatic Updates last installed and last searched successfully. On failure `result`
  // says why and both times are nullopt.
  virtual AutoUpdateTimes LastSuccessTimes() = 0;
};

}  // namespace orv::os
