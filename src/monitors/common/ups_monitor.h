// The UPS monitor (CheckUps): the snapshot the status message shows, and the UPS's lost
// connection and abnormal state as conditions reported once when they begin and once when
// they end.
//
// A lost connection is only seen against the previous pass's snapshot, so a UPS absent at
// start produces no event; an entry left open from before a restart is still closed when the
// UPS is found and read. Every device text goes into the snapshot escaped, so whatever the
// device sends, the snapshot holds valid JSON tokens.
#pragma once

#include <cstdint>

#include "model/event_queue.h"
#include "model/monitor_state.h"
#include "model/ups_snapshot.h"
#include "monitors/common/ups_ctrl_apc.h"
#include "os/os_ports.h"

namespace orv {

// What one run's passes remember of the HID listing: whether the last walk ended without a
// UPS, and how many passes have trusted that since.
struct UpsSearchMemory {
  bool noUpsListed = false;
  std::uint32_t passesSinceWalk = 0;
};

class UpsMonitor {
 public:
  // A walk that found no UPS is trusted while the system reports no HID interface come or gone,
  // for at most this many passes: a notice the system failed to give delays finding a UPS by
  // that many passes at most.
  static constexpr std::uint32_t kWalkAtLeastEvery = 10;

  // Without `memory` the HID listing is walked at every pass.
  UpsMonitor(os::Registry& registry, os::Clock& clock, os::HidDevices& hid, EventQueue& queue,
             UpsSearchMemory* memory = nullptr)
      : registry_(registry), clock_(clock), hid_(hid), queue_(queue), memory_(memory) {}

  void Check(UpsSnapshot& snapshot, MonitorState& connection, MonitorState& degradation);

  // The snapshot's values of one reading (read ok), and whether its battery state is abnormal.
  static UpsSnapshot SnapshotOf(const UPSCtrl_APC& reading, bool& abnormal);

 private:
  os::Registry& registry_;
  os::Clock& clock_;
  os::HidDevices& hid_;
  EventQueue& queue_;
  UpsSearchMemory* memory_;
};

}  // namespace orv
