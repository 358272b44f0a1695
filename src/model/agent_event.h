// AgentEvent: one detected event, as a monitor reports it and the controller writes it.
#pragma once

#include <cstdint>
#include <string>

#include "os/clock.h"

namespace orv {

struct AgentEvent {
  // A plain event of `actId`, detected now (local time, whole seconds).
  AgentEvent(std::int32_t actId, os::Clock& clock) : act_id(actId), time(clock.LocalNow()) {
    time.milliseconds = 0;
  }
  AgentEvent(std::int32_t actId, const os::CalendarTime& detectedAt)
      : act_id(actId), time(detectedAt) {}

  std::int32_t act_id;
  // 1 a condition opens, 3 it closes, 2 a rebuild runs; 0 for plain events.
  std::int32_t act_sts = 0;
  // A bare JSON token (in practice a decimal number): written unquoted.
  std::string act_trg;
  // The event's values as one comma-separated text.
  std::string act_para;
  os::CalendarTime time;
  // The text shown to the user.
  std::string msg;
  // The provider of the event-log entry that caused the event; never written in a message.
  std::string source;
  // The event id of that entry, and a spare number; never written in a message.
  std::uint32_t sourceEventId = 0;
  std::uint32_t spare = 0;
};

}  // namespace orv
