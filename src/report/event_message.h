// The body of an event message: sixteen members in a fixed order, one per line.
#pragma once

#include <string>

#include "model/agent_event.h"

namespace orv {

// What every message says about the appliance and the agent.
struct MessageHeader {
  std::string devId;    // 32 hexadecimal digits
  std::string msName;   // model name, empty when unknown
  std::string msVer;    // management tool version, empty when unknown
  std::string agtName;
  std::string agtVer;
};

// Appends the member lines of `event` to `body` (CR LF line ends, four-space indent, no comma
// after the last member).
void AppendEventMessage(const AgentEvent& event, const MessageHeader& header, std::string& body);

}  // namespace orv
