// RegistrationExchange: the device's registration data as the cloud holds it.
//
// One request of registration data and what its answer does to the stored device identifier
// (a changed one is stored, an unknown device's is cleared); what it means for the agent's
// state is the controller's decision. Also the record the settings program receives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/pipe_records.h"
#include "os/os_ports.h"
#include "platform/agent_event_log.h"

namespace orv {

class AgentCtrl_Upload;
class AgentCtrl_WebAPI;

enum class RequestOutcome { NotRegistered, TransportFailure, Ok, Unauthorized, OtherStatus };

class RegistrationExchange {
 public:
  RegistrationExchange(const os::OsPorts& os, const AgentEventLog& log, std::uint32_t useProductionHost)
      : os_(os), log_(log), useProductionHost_(useProductionHost) {}

  RequestOutcome Request(AgentCtrl_Upload& upload);
  // Sets the device identifier and subkey (MAC) texts of a new client.
  void PrepareClient(AgentCtrl_WebAPI& client, AgentCtrl_Upload& upload);
  std::uint32_t UseProductionHost() const { return useProductionHost_; }

  // The record the settings program receives on control 130; `agentState` and `stopReason`
  // are the controller's.
  service::RegistrationRecord BuildRecord(AgentCtrl_Upload& upload, std::uint8_t agentState,
                                          const std::string& stopReason);
  // The device's MAC as "%02X:%02X:...", empty without a port.
  std::string MacAddressText();
  // The system's product name (empty when missing).
  std::string ProductName();

 private:
  bool IsTestSwitch(std::string_view name);

  os::OsPorts os_;
  AgentEventLog log_;
  std::uint32_t useProductionHost_;
};

// Logs a request that got no answer (`transportEvent`, with the client's error) or an unwanted
// status (`statusEvent`, with the answer's result text and error fields). A request cancelled by
// a stopping service is not logged: it says nothing about the cloud.
void LogRequestFailure(const AgentEventLog& log, const AgentCtrl_WebAPI& client, bool answered,
                       std::uint32_t transportEvent, std::uint32_t statusEvent, std::string_view sentence,
                       std::string_view statusSentence);

}  // namespace orv
