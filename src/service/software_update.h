// SoftwareUpdate: the latest-software check of control 134 and the daily check.
//
// Asks the cloud for its registration data and the newest agent and event definitions; starts
// the installer of a newer, properly signed agent, or replaces the event definition file. Every
// outcome is told to the settings program.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "os/os_ports.h"
#include "platform/agent_event_log.h"
#include "service/registration_exchange.h"

namespace orv {

class AgentCtrl_Upload;
class AgentCtrl_WebAPI;

// The check's outcomes, numbered as the controller has always reported them.
enum class SoftwareCheck : int {
  Unregistered = 1,
  RegistrationFailed = 2,
  RequestFailed = 3,
  Current = 4,
  UpdateFailed = 5,
  InstallerStarted = 6,  // the service must end so the installer can replace it
  DefinitionFailed = 7,
  DefinitionReplaced = 8,
};

class SoftwareUpdate {
 public:
  // `stopRequested` abandons an update whose unpacking a stop interrupts.
  SoftwareUpdate(const os::OsPorts& os, const AgentEventLog& log, RegistrationExchange registration,
                 std::function<bool()> stopRequested)
      : os_(os), log_(log), registration_(std::move(registration)), stopRequested_(std::move(stopRequested)) {}

  // The check of a registered agent.
  SoftwareCheck Check(AgentCtrl_Upload& upload);

 private:
  // Downloads `client`'s agent URL into the work folder, unpacks it when it is an archive and
  // checks its signature; true with `installer` set when it may be started, and held in
  // `unchanged` from before its check so that what starts is what was checked.
  bool Install(AgentCtrl_Upload& upload, AgentCtrl_WebAPI& client, std::string& installer,
               std::unique_ptr<os::ReadHold>& unchanged);
  // Clears the way for a new work folder and makes it, private; false (logged) when it cannot.
  // `held` keeps the new folder from being renamed while the update uses it.
  bool MakeWorkFolder(const std::string& work, std::unique_ptr<os::HeldPath>& held);
  // Tells the settings program the outcome and returns it.
  SoftwareCheck End(SoftwareCheck outcome, std::string_view suffix = {});
  bool IsTestSwitch(std::string_view name);
  // Deletes `folder` with everything in it, as far as it can; a link is removed as itself.
  void RemoveTree(const std::string& folder);
  os::OsError RemoveHeld(const std::string& path, os::HeldPath& held);

  os::OsPorts os_;
  AgentEventLog log_;
  RegistrationExchange registration_;
  std::function<bool()> stopRequested_;
};

}  // namespace orv
