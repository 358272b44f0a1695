#include "report/agent_ctrl_upload.h"

#include <algorithm>

#include "platform/agent_registry.h"
#include "platform/text_encoding.h"
#include "platform/wmi_base.h"
#include "report/event_message.h"
#include "model/event_queue.h"
#include "report/status_message.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {

constexpr std::string_view kAgentDisplayName = "Orvane Service Agent Program";
// NetBIOS names are at most 15 characters.
constexpr std::size_t kHostNameUnits = 16;

// For an interval, 0 would mean no pause at all: it counts as not set.
std::uint32_t PositiveOrDefault(const RegHandle& key, std::string_view name, std::uint32_t fallback) {
  const std::uint32_t value = key.GetDwordOr(name, fallback);
  return value == 0 ? fallback : value;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameWithoutExtension(const std::string& path) {
  std::string name = path.substr(path.rfind('\\') + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  return name;
}

}  // namespace

AgentCtrl_Upload::AgentCtrl_Upload(const os::OsPorts& os, CommandUse commands)
    : os_(os),
      eventDefinitions_(os.files, os.xmlReader),
      log_(os.eventReporter, os.system),
      status_(os.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey)),
      moduleFolder_(FolderOf(os.system.ExecutablePath())),
      moduleName_(NameWithoutExtension(os.system.ExecutablePath())),
      agentVersion_(ReadAgentVersion()),
      eventDefinitionPath_(moduleFolder_ + "ORVCONFIG.xml"),
      pool_(os, log_, ChoosePoolFolder()),
      checkInterval_(PositiveOrDefault(status_, "CheckInterval", 60)),
      outputInterval_(status_.GetDwordOr("OutputInterval", 1800)),
      identity_(IdentifyModel(os, commands)),
      hostName_(CutToUtf16Units(os.system.ComputerName(), kHostNameUnits)) {
  uploaderStop_ = os.sync.NewEvent(os::EventReset::Auto, {}).take();
  eventDefinitions_.SetPath(eventDefinitionPath_);
  {
    // Only construction reads WMI: the connection and this thread's COM membership end here.
    WmiBase wmi(os.wmi);
    inventory_ = ReadHardwareInventory(wmi, identity_.modelFlags);
  }
  networkGroupType_ = ReadNetworkGroupType(os.registry);
}

AgentCtrl_Upload::~AgentCtrl_Upload() { (void)StopUploader(); }

std::uint32_t AgentCtrl_Upload::RoundWaitMs() const {
  // One below the infinite wait: about 49 days, where the setting asks for more.
  constexpr std::uint64_t kLongestWaitMs = os::kInfinite - 1;
  return static_cast<std::uint32_t>(std::min(std::uint64_t{checkInterval_} * 1000, kLongestWaitMs));
}

std::string AgentCtrl_Upload::ReadAgentVersion() const {
  std::vector<std::string> subKeys;
  (void)RegHandle::EnumSubKeys(os_.registry, os::RegistryRoot::LocalMachine, kUninstallKey, subKeys);
  std::string version;
  bool found = false;
  for (const std::string& subKey : subKeys) {
    const RegHandle entry(os_.registry, os::RegistryRoot::LocalMachine,
                          std::string(kUninstallKey) + "\\" + subKey);
    std::string name;
    if (!entry.GetString("DisplayName", name) || name != kAgentDisplayName) continue;
    (void)entry.GetString("DisplayVersion", version);  // the last matching entry wins
    found = true;
  }
  return found ? VersionUpToSecondDot(version) : std::string();
}

std::string AgentCtrl_Upload::ChoosePoolFolder() const {
  std::string configured;
  if (status_.GetString("MessagePoolPath", configured) && !configured.empty() &&
      os_.files.DirectoryExists(configured)) {
    return configured;
  }
  return moduleFolder_ + "MessagePool";
}

void AgentCtrl_Upload::Initialize() {
  pool_.EnsureFolder();
  dailySecond_ = status_.GetDwordOr("AgentDailySecond", 0);
  statusSecond_ = status_.GetDwordOr("AgentStatusSecond", 0);
  if (!os_.files.FileExists(eventDefinitionPath_)) {
    os::OsError error = os::kSuccess;
    if (!WriteEventDefinition({}, &error)) {
      log_.SystemCallError(event_id::kDefinitionWriteFailed, "イベント定義ファイルの作成に失敗しました。",
                           error);
    }
  }
  if (!eventDefinitions_.Load()) {
    if (eventDefinitions_.GetLoadStatus() == AgentCtrl_ConfigFile::kIncomplete) {
      log_.Error(event_id::kDefinitionMalformed, "イベント定義ファイルの構成が異常です。");
    } else {
      log_.Error(event_id::kDefinitionUnreadable, "イベント定義ファイルの読み込みに失敗しました。");
    }
  }
  LoadDeviceId();
}

bool AgentCtrl_Upload::WriteEventDefinition(std::string_view text, os::OsError* error) {
  if (error == nullptr) return false;
  const std::string utf8 = Utf16ToUtf8(Utf8ToUtf16(text.empty() ? kDefaultEventDefinition : text));
  std::vector<std::uint8_t> bytes{0xEF, 0xBB, 0xBF};
  bytes.insert(bytes.end(), utf8.begin(), utf8.end());
  *error = os_.files.WriteWholeFile(eventDefinitionPath_, bytes, os::CreateMode::ReplaceExisting);
  return *error == os::kSuccess;
}

bool AgentCtrl_Upload::WriteMessage(MessageKind kind, std::string_view body) {
  return pool_.Write(kind, body);
}

bool AgentCtrl_Upload::CleanPool() { return pool_.Clean(); }

bool AgentCtrl_Upload::IsEventStopped(std::int32_t actId) const {
  const std::string code = std::to_string(actId);
  const auto& stopList = eventDefinitions_.StopList();
  return std::find(stopList.begin(), stopList.end(), code) != stopList.end();
}

bool AgentCtrl_Upload::BuildEventMessage(const AgentEvent& event, std::string& body) const {
  MessageHeader header;
  header.devId = FormatDeviceId(deviceId_);
  GetModelName(os_.registry, identity_.modelFlags, header.msName, header.msVer);
  header.agtName = identity_.agentName;
  header.agtVer = agentVersion_;
  AppendEventMessage(event, header, body);
  return true;
}

bool AgentCtrl_Upload::BuildStatusMessage(StatusKind kind, PowerState power, const CommonStatusData& common,
                                          const NasStatusData& nas, std::string& body) const {
  StatusHeader header;
  header.devId = FormatDeviceId(deviceId_);
  header.now = os_.clock.LocalNow();
  GetModelName(os_.registry, identity_.modelFlags, header.msName, header.msVer);
  header.agtName = identity_.agentName;
  header.agtVer = agentVersion_;
  header.millisecondsSinceStart = os_.clock.MillisecondsSinceStart();
  header.modelFlags = identity_.modelFlags;
  header.boardSerial = inventory_.boardSerial;
  header.firmware = inventory_.firmware;
  header.hostName = hostName_;
  header.networkGroupType = static_cast<std::int32_t>(networkGroupType_);
  AppendStatusMessage(header, kind, power, common, nas, body);
  return true;
}

bool AgentCtrl_Upload::WriteQueuedEvents(int& written) {
  bool allWritten = true;
  DrainEventQueues([&](const AgentEvent& event) {
    if (IsEventStopped(event.act_id)) return;
    std::string body;
    BuildEventMessage(event, body);
    if (WriteMessage(MessageKind::Event, body)) {
      ++written;
    } else {
      allWritten = false;  // the event is dropped with the queue, as the next drain would not fare better
    }
  });
  return allWritten;
}

void AgentCtrl_Upload::LoadDeviceId() {
  deviceId_ = {};
  std::vector<std::uint8_t> stored;
  if (status_.GetBinary("DEVICEID", stored) && stored.size() == deviceId_.size()) {
    std::copy(stored.begin(), stored.end(), deviceId_.begin());
  }
}

void AgentCtrl_Upload::SetDeviceId(const DeviceId* id) {
  if (id == nullptr) return;
  deviceId_ = *id;
  (void)status_.SetBinary("DEVICEID", deviceId_);
}

void AgentCtrl_Upload::ClearDeviceId() {
  deviceId_ = {};
  (void)status_.SetBinary("DEVICEID", deviceId_);
}

}  // namespace orv
