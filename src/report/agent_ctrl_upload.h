// AgentCtrl_Upload: the agent's reporting identity and its message pool.
//
// Built once by the controller and kept for the service's lifetime. It gathers what every
// message carries (device identifier, agent and model names and versions), owns the pool and
// the event definition file, and turns events into message files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/agent_event.h"
#include "model/common_status_data.h"
#include "model/nas_status_data.h"
#include "os/os_ports.h"
#include "platform/agent_ctrl_config_file.h"
#include "platform/agent_event_log.h"
#include "platform/reg_handle.h"
#include "report/device_id.h"
#include "report/hardware_inventory.h"
#include "report/message_pool.h"
#include "report/model_identity.h"
#include "report/status_message.h"
#include "report/uploader_result.h"

namespace orv {

class AgentCtrl_Upload {
 public:
  static constexpr std::string_view kDefaultEventDefinition =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config>\r\n  <ver>1.00</ver>\r\n</config>";

  // Gathers the setup values: paths, agent version, intervals, model identity, host name,
  // the hardware inventory (through WMI, on the calling thread) and the network group type.
  // `commands`: whether model identification may run wmic.exe (see IdentifyModel).
  explicit AgentCtrl_Upload(const os::OsPorts& os, CommandUse commands = CommandUse::Allowed);
  AgentCtrl_Upload(const AgentCtrl_Upload&) = delete;
  AgentCtrl_Upload& operator=(const AgentCtrl_Upload&) = delete;
  virtual ~AgentCtrl_Upload();

  // Creates the pool and the definition file where missing, loads the definitions, reads the
  // daily and status offsets and the device identifier. Failures are logged; it goes on.
  // Runs again at every reading of the agent's state.
  void Initialize();
  // Writes the definition file (BOM + UTF-8 of `text`, or of the default when empty),
  // replacing it. False with the system error in `error`; false at once without `error`.
  bool WriteEventDefinition(std::string_view text, os::OsError* error);
  // Writes one message file of `kind` (1 status, 2 event); see MessagePool::Write.
  bool WriteMessage(MessageKind kind, std::string_view body);
  bool CleanPool();

  // True when the definition file's stop list names `actId` (as "%d", exactly).
  bool IsEventStopped(std::int32_t actId) const;
  // Appends the sixteen member lines of `event` to `body`; always true.
  bool BuildEventMessage(const AgentEvent& event, std::string& body) const;
  // Appends the whole status member text to `body`; always true. `kind` 1 periodic (averages),
  // 2 after events or a power event, 3 test; `power` 1 running, 2 shutting down, 3 sleeping.
  bool BuildStatusMessage(StatusKind kind, PowerState power, const CommonStatusData& common,
                          const NasStatusData& nas, std::string& body) const;
  // Writes every queued event not on the stop list as an event message, common queue first;
  // true when none failed. `written` counts the files written.
  bool WriteQueuedEvents(int& written);

  // Writes "config.ini" and starts "ORVUPLD.exe" on a thread of its own unless one still runs
  // (then true without a second one). False, logged, when the uploader, the pool or the
  // configuration file is missing or cannot be written.
  bool LaunchUploader(std::string_view macAddress);
  // "config.ini": the BOM and the Base64 of the one-line JSON object; false, logged, on failure.
  bool WriteUploaderConfig(std::string_view macAddress);
  // How long a stop waits for a running uploader before it leaves it running.
  static constexpr std::uint32_t kUploaderStopWaitMs = 180'000;
  // Waits up to `waitMs` for a running uploader thread and forgets it; false when it still runs
  // (the process is never killed).
  bool StopUploader(std::uint32_t waitMs = kUploaderStopWaitMs);
  // The command line LaunchUploader gives "ORVUPLD.exe".
  std::string UploaderCommandLine() const;

  void LoadDeviceId();
  // Stores and persists `id`; nullptr does nothing.
  void SetDeviceId(const DeviceId* id);
  void ClearDeviceId();
  bool HasDeviceId() const { return !IsZeroDeviceId(deviceId_); }
  void GetDeviceId(DeviceId& out) const { out = deviceId_; }

  const std::string& ModuleFolder() const { return moduleFolder_; }
  const std::string& ModuleName() const { return moduleName_; }
  const std::string& AgentVersion() const { return agentVersion_; }
  const std::string& AgentName() const { return identity_.agentName; }
  const std::string& PoolFolder() const { return pool_.Folder(); }
  const std::string& EventDefinitionPath() const { return eventDefinitionPath_; }
  // Seconds between monitoring rounds; 0 and a missing value give 60.
  std::uint32_t CheckInterval() const { return checkInterval_; }
  // The round's wait in milliseconds, kept below the infinite wait however large the setting.
  std::uint32_t RoundWaitMs() const;
  std::uint32_t OutputInterval() const { return outputInterval_; }
  std::uint32_t DailySecond() const { return dailySecond_; }
  std::uint32_t StatusSecond() const { return statusSecond_; }
  bool BrandFlag() const { return identity_.meridexBrand; }
  const ModelIdentity& Identity() const { return identity_; }
  std::uint32_t ModelFlags() const { return identity_.modelFlags; }
  const std::string& HostName() const { return hostName_; }
  const std::string& BoardProduct() const { return inventory_.boardProduct; }
  const std::string& BoardSerial() const { return inventory_.boardSerial; }
  // bios_ver: see HardwareInventory.
  const std::string& FirmwareText() const { return inventory_.firmware; }
  // True when messages carry mb_sn; it is null otherwise.
  bool WritesBoardSerial() const { return inventory_.writesBoardSerial; }
  std::uint32_t NetworkGroupType() const { return networkGroupType_; }
  const AgentCtrl_ConfigFile& EventDefinitions() const { return eventDefinitions_; }
  AgentCtrl_ConfigFile& EventDefinitions() { return eventDefinitions_; }

 private:
  std::string ReadAgentVersion() const;
  std::string ChoosePoolFolder() const;
  std::string UploaderConfigText(std::string_view macAddress) const;
  static void RunUploader(const os::OsPorts& os, const AgentEventLog& log, HeldUploaderError& held,
                          const std::string& commandLine, const std::string& workingFolder);

  os::OsPorts os_;
  AgentCtrl_ConfigFile eventDefinitions_;
  AgentEventLog log_;
  RegHandle status_;
  std::string moduleFolder_;
  std::string moduleName_;
  std::string agentVersion_;
  std::string eventDefinitionPath_;
  MessagePool pool_;
  std::uint32_t checkInterval_ = 60;
  std::uint32_t outputInterval_ = 1800;
  ModelIdentity identity_;
  std::string hostName_;
  HardwareInventory inventory_;
  std::uint32_t networkGroupType_ = kNetworkGroupUnknown;
  DeviceId deviceId_{};
  std::uint32_t dailySecond_ = 0;
  std::uint32_t statusSecond_ = 0;
  std::unique_ptr<os::Event> uploaderStop_;
  std::unique_ptr<os::Thread> uploaderThread_;
  // Written by the uploader threads only, one at a time; the lock keeps it sound regardless.
  std::shared_ptr<HeldUploaderError> heldUploaderError_ = std::make_shared<HeldUploaderError>();
};

}  // namespace orv
