#include "service/diagnosis.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "model/common_status_data.h"
#include "model/nas_status_data.h"
#include "monitors/common/state_tables.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "platform/service_queries.h"
#include "platform/text_encoding.h"
#include "report/agent_ctrl_upload.h"
#include "report/device_id.h"
#include "report/status_message.h"
#include "service/service_identity.h"
#include "service/service_security.h"
#include "webapi/agent_ctrl_webapi.h"

namespace orv {
namespace {

constexpr auto kLocalMachine = os::RegistryRoot::LocalMachine;

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
  return text;
}

class Report {
 public:
  void Heading(std::string_view title) { text_.append("\r\n[").append(title).append("]\r\n"); }
  void Line(std::string_view label, std::string_view value) {
    std::string line = "  " + std::string(label);
    if (line.size() < 24) line.resize(24, ' ');
    text_.append(line).append(" ").append(value).append("\r\n");
  }
  void Text(std::string_view text) { text_.append(text); }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// How a value of the status key is read by the agent, so the effective value and whether a
// default applies can be shown without the code that consumes it.
enum class SettingKind { Dword, DwordZeroIsDefault, String, Secret, Presence };

struct Setting {
  std::string_view name;
  SettingKind kind;
  std::optional<std::uint32_t> defaultNumber;  // DWORDs with a documented default
  std::string_view whenMissing;                // what the agent does without the value
};

constexpr Setting kSettings[] = {
    {"ServiceStatus", SettingKind::Dword, {}, "taken as monitoring once registered"},
    {"InitEvent", SettingKind::Dword, 0, ""},
    {"AutoUpdate", SettingKind::Dword, {}, "no automatic update"},
    {"CheckInterval", SettingKind::DwordZeroIsDefault, 60, ""},
    {"OutputInterval", SettingKind::Dword, 1800, ""},
    {"AgentDailySecond", SettingKind::Dword, 0, ""},
    {"AgentStatusSecond", SettingKind::Dword, 0, ""},
    {"MessagePoolPath", SettingKind::String, {}, "the agent's folder + MessagePool"},
    {"FileCount", SettingKind::Dword, 0, ""},
    {"WebAPINoneSSL", SettingKind::Presence, {}, "TLS"},
    {"WebAPIFilePath", SettingKind::String, {}, "no path prefix"},
    {"ProxyEnable", SettingKind::Dword, {}, "no proxy"},
    {"ProxyServer", SettingKind::String, {}, "none"},
    {"ProxyPort", SettingKind::Dword, {}, "none (the uploader gets 0)"},
    {"ProxyUser", SettingKind::String, {}, "none"},
    {"ProxyPassword", SettingKind::Secret, {}, "none"},
    {"UPSCheckStop", SettingKind::Dword, {}, "UPS monitored"},
    {"CPUFanThreshold", SettingKind::Dword, 2000, ""},
    {"CPUTempThreshold", SettingKind::Dword, 70, ""},
    {"CASEFanThreshold", SettingKind::Dword, 1000, ""},
    {"HDDTempThreshold", SettingKind::Dword, 60, ""},
    {"DISKCapaThreshold", SettingKind::Dword, 30, ""},
};

std::string EffectiveSetting(const RegHandle& status, const Setting& setting) {
  const std::string missing =
      setting.whenMissing.empty() ? "not set" : "not set (" + std::string(setting.whenMissing) + ")";
  switch (setting.kind) {
    case SettingKind::Dword:
    case SettingKind::DwordZeroIsDefault: {
      const std::optional<std::uint32_t> stored = status.GetDword(setting.name);
      const bool useDefault = !stored || *stored == RegHandle::kMissingDword ||
                              (setting.kind == SettingKind::DwordZeroIsDefault && *stored == 0);
      if (!useDefault) return std::to_string(*stored);
      if (setting.defaultNumber) return std::to_string(*setting.defaultNumber) + " (default)";
      return missing;
    }
    case SettingKind::String: {
      std::string value;
      if (!status.GetString(setting.name, value)) return missing;
      return "\"" + value + "\"";
    }
    case SettingKind::Secret: {
      std::vector<std::uint8_t> value;
      if (!status.GetBinary(setting.name, value)) return missing;
      return "set (" + std::to_string(value.size()) + " bytes, encrypted, not shown)";
    }
    case SettingKind::Presence:
      return status.ValueExists(setting.name) ? "present (TLS off for a client built with defaults)"
                                              : missing;
  }
  return missing;
}

std::string_view StoredStateName(std::uint32_t state) {
  switch (state) {
    case 1: return "1 unregistered";
    case 2: return "2 monitoring";
    case 3: return "3 monitoring stopped";
    case 4: return "4 monitoring without registration data";
    default: return "";
  }
}

std::string_view ServiceStateName(std::uint32_t state) {
  switch (state) {
    case kServiceStopped: return "stopped";
    case kServiceStartPending: return "start pending";
    case kServiceStopPending: return "stop pending";
    case kServiceRunning: return "running";
    case kServiceContinuePending: return "continue pending";
    case kServicePausePending: return "pause pending";
    case kServicePaused: return "paused";
    default: return "unknown";
  }
}

std::string Age(std::uint64_t nowFileTime, std::uint64_t fileTime) {
  const std::uint64_t seconds =
      nowFileTime > fileTime ? (nowFileTime - fileTime) / (static_cast<std::uint64_t>(kFileTimeUnitsPerMillisecond) * 1000) : 0;
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 " d %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64,
                seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
  return text;
}

bool IsMessageFile(std::string_view lowerName, std::string_view prefix) {
  return lowerName.size() > prefix.size() + 5 && lowerName.starts_with(prefix) &&
         lowerName.ends_with(".json");
}

void AddService(const os::OsPorts& os, Report& out) {
  out.Heading("service");
  os::OsError error = os::kSuccess;
  // Query-status access only: a diagnosis must not need the rights that could change it.
  const std::uint32_t state = QueryServiceState(os.serviceManager, kServiceName, &error);
  if (error == os::kErrorServiceDoesNotExist) {
    out.Line("installed", "no");
  } else if (error != os::kSuccess) {
    out.Line("installed", "unknown (the control manager answers " + Hex32(error) + ")");
  } else {
    out.Line("installed", "yes");
    out.Line("state", std::string(ServiceStateName(state)) +
                          (state == kServiceRunning ? "" : " (not running)"));
    // Read-control access only, like the state.
    out.Line("access list", DescribeServiceDacl(os, kServiceName));
  }
}

void AddSettings(const RegHandle& status, Report& out) {
  out.Heading("settings (HKLM\\" + std::string(kStatusKey) + ")");
  if (!status.KeyExists()) out.Line("(key)", "cannot be opened: every setting below is its default");
  for (const Setting& setting : kSettings) out.Line(setting.name, EffectiveSetting(status, setting));
}

void AddAgent(const os::OsPorts& os, const RegHandle& status, const AgentCtrl_Upload& upload,
              Report& out) {
  out.Heading("agent");
  const std::uint32_t stored = status.GetDwordOr("ServiceStatus", RegHandle::kMissingDword);
  const std::string_view storedName = StoredStateName(stored);
  out.Line("stored state", stored == RegHandle::kMissingDword ? std::string("not set")
                            : storedName.empty()               ? std::to_string(stored) + " (unknown)"
                                                               : std::string(storedName));
  // The state the service takes at its next reading, by the rule it applies at start.
  std::string_view next = "2 monitoring";
  if (!upload.HasDeviceId()) {
    next = "1 unregistered (no device identifier)";
  } else if (stored == 3) {
    next = "3 monitoring stopped";
  }
  out.Line("state at next reading", next);
  DeviceId id{};
  upload.GetDeviceId(id);
  out.Line("DEVICEID", FormatDeviceId(id) + (IsZeroDeviceId(id) ? " (not registered)" : ""));
  out.Line("agent name", upload.AgentName().empty() ? "(none for this model)" : upload.AgentName());
  out.Line("agent version", upload.AgentVersion().empty() ? "(no uninstall entry)" : upload.AgentVersion());
  std::string flags = Hex32(upload.ModelFlags());
  if (upload.Identity().osVersionNotRead) flags += " (this board needs wmic.exe, which -diag does not run)";
  out.Line("model flags", flags);
  out.Line("brand", upload.BrandFlag() ? "Meridex" : "Tavolen");
  out.Line("host name", upload.HostName());

  // The service reads "uploader.xml" once at start; a change shows here before it takes effect.
  AgentCtrl_WebAPI probe(os);
  const bool staging = probe.SelectHost() == 1;
  const AgentCtrl_WebAPI chosen(os, staging ? 0U : 1U);
  out.Line("Web API host", chosen.Host() + (staging ? " (staging, named by uploader.xml)" : " (production)") +
                               (chosen.UsesTls() ? ", TLS" : ", no TLS"));

  const bool uploaderThere = os.files.FileExists(upload.ModuleFolder() + "ORVUPLD.exe");
  out.Line("uploader", upload.ModuleFolder() + "ORVUPLD.exe" + (uploaderThere ? "" : " (missing)"));
  // The held code lives in the service process only; it reaches the event log (0xC0000526)
  // at the next successful upload.
  out.Line("held uploader code", "not readable outside the service (see event 0xC0000526)");
}

void AddPool(const os::OsPorts& os, const RegHandle& status, const AgentCtrl_Upload& upload,
             Report& out) {
  out.Heading("message pool");
  std::string configured;
  const bool hasConfigured = status.GetString("MessagePoolPath", configured) && !configured.empty();
  std::string folder = upload.PoolFolder();
  if (hasConfigured && folder != configured) folder += " (MessagePoolPath is not an existing folder)";
  out.Line("folder", folder);
  out.Line("FileCount", std::to_string(status.GetDwordOr("FileCount", 0)));

  std::vector<os::FileEntry> entries;
  const os::OsError error = os.files.ListDirectory(upload.PoolFolder(), entries);
  if (error != os::kSuccess) {
    out.Line("files", "cannot be listed (" + Hex32(error) + ")");
    return;
  }
  std::uint64_t eventCount = 0, eventBytes = 0, statusCount = 0, statusBytes = 0, others = 0;
  std::optional<std::uint64_t> oldest;
  for (const os::FileEntry& entry : entries) {
    if (entry.isDirectory) continue;
    const std::string name = AsciiLower(entry.name);
    if (IsMessageFile(name, "re")) {
      ++eventCount;
      eventBytes += entry.size;
    } else if (IsMessageFile(name, "rl")) {
      ++statusCount;
      statusBytes += entry.size;
    } else {
      ++others;
      continue;
    }
    oldest = std::min(oldest.value_or(entry.lastWriteTime), entry.lastWriteTime);
  }
  out.Line("RE (event) files", std::to_string(eventCount) + ", " + std::to_string(eventBytes) + " bytes");
  out.Line("RL (status) files", std::to_string(statusCount) + ", " + std::to_string(statusBytes) + " bytes");
  out.Line("other files", std::to_string(others));
  out.Line("oldest message", oldest ? Age(ToFileTime(os.clock.UtcNow()), *oldest) + " old" : "none");
}

// The open conditions, loaded into the status data as the monitors would load them at start.
void AddConditions(os::Registry& registry, CommonStatusData& common, NasStatusData& nas,
                   Report& out) {
  out.Heading("open conditions");
  int open = 0;
  const auto show = [&](std::string_view table, const MonitorState& state) {
    if (state.act_sts == MonitorState::kNoneOpen) return;
    ++open;
    out.Line(table, "act_id " + std::to_string(state.act_id) + ", act_sts " + std::to_string(state.act_sts) +
                        ", act_trg " + state.act_trg +
                        (state.item_key.empty() ? "" : ", item " + state.item_key) + ": " + state.msg);
  };
  const std::pair<const SingleStateTable*, MonitorState*> singles[] = {
      {&kBackupStatusTable, &common.backupState},   {&kUPSConnectStatusTable, &common.upsConnectState},
      {&kUPSDegradeStatusTable, &common.upsDegradeState}, {&kCPUFanStatusTable, &nas.cpuFanState},
      {&kCPUTempStatusTable, &nas.cpuTempState},    {&kCASEFanStatusTable, &nas.caseFanState},
  };
  for (const auto& [table, state] : singles) {
    (void)LoadSingle(registry, *table, *state);
    show(table->value, *state);
  }
  const std::pair<const StateListTable*, std::vector<MonitorState>*> lists[] = {
      {&kHDDTempStatusTable, &nas.hddTempStates}, {&kHDDStaStatusTable, &nas.hddStaStates},
      {&kVolCapaStatusTable, &nas.volCapaStates}, {&kVolStaStatusTable, &nas.volStaStates},
      {&kVaultBackupStatusTable, &nas.vaultBackupStates},
  };
  for (const auto& [table, states] : lists) {
    (void)LoadList(registry, *table, *states);
    for (const MonitorState& state : *states) show(table->value, state);
  }
  if (open == 0) out.Line("(none)", "");
}

}  // namespace

std::string DiagnosisText(const os::OsPorts& os) {
  Report out;
  const os::CalendarTime now = os.clock.LocalNow();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u/%02u/%02u %02u:%02u:%02u", unsigned{now.year}, unsigned{now.month},
                unsigned{now.day}, unsigned{now.hour}, unsigned{now.minute}, unsigned{now.second});
  out.Text(std::string(kServiceName) + " diagnosis, " + stamp + " (read only: nothing was written)\r\n");

  const RegHandle status(os.registry, kLocalMachine, std::string(kStatusKey));
  AddService(os, out);
  AddSettings(status, out);

  // Built without Initialize, which would create the pool and the definition file.
  AgentCtrl_Upload upload(os, CommandUse::NotAllowed);
  upload.LoadDeviceId();
  AddAgent(os, status, upload, out);
  AddPool(os, status, upload, out);

  CommonStatusData common;
  NasStatusData nas;
  AddConditions(os.registry, common, nas, out);

  out.Heading("status message (kind 2) as it would be written now: NOT WRITTEN");
  out.Text("  The load, adapters, disks, volumes, backup tasks and UPS come from a monitoring pass,\r\n"
           "  which saves state; they are left empty here.\r\n");
  std::string body = "{\r\n";
  (void)upload.BuildStatusMessage(StatusKind::AfterEvents, PowerState::Running, common, nas, body);
  body += "}\r\n";
  out.Text(body);
  return out.Take();
}

}  // namespace orv
