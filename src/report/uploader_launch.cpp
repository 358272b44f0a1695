// AgentCtrl_Upload: starting "ORVUPLD.exe" and writing the "config.ini" it reads.
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/base64.h"
#include "platform/c_crypt_string.h"
#include "platform/text_encoding.h"
#include "report/agent_ctrl_upload.h"
#include "platform/json_escape.h"
#include "os/object_security.h"

namespace orv {
namespace {

constexpr std::string_view kUploaderName = "ORVUPLD.exe";
constexpr std::string_view kConfigName = "config.ini";
constexpr std::string_view kConfigTemporarySuffix = ".tmp";

void AppendMember(std::string& json, std::string_view name, std::string_view value) {
  if (json.size() > 1) json += ',';
  json += '"';
  json += name;
  json += "\":\"";
  // The uploader parses this as JSON: a quote or backslash in a password must not end the text.
  json += EscapeJson(value);
  json += '"';
}

// The JSON text in the ANSI code page. A character the code page cannot hold exactly goes as
// a \uXXXX escape (two for a surrogate pair), which is ASCII in every code page: a best-fit
// stand-in would change the value, and on code page 932 "¥" would become a backslash that
// breaks the JSON. Outside strings the text is ASCII, so every escape lands inside a string.
std::vector<std::uint8_t> JsonToAnsi(os::SystemInfo& system, std::string_view json) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::u16string wide = Utf8ToUtf16(json);
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> converted;
  for (std::size_t i = 0; i < wide.size();) {
    if (wide[i] < 0x80) {
      bytes.push_back(static_cast<std::uint8_t>(wide[i++]));
      continue;
    }
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size();
    const std::u16string_view character(wide.data() + i, pair ? 2 : 1);
    i += character.size();
    if (system.Utf8ToAnsiExact(Utf16ToUtf8(character), converted)) {
      bytes.insert(bytes.end(), converted.begin(), converted.end());
      continue;
    }
    for (const char16_t unit : character) {
      for (const char c : {'\\', 'u', kHex[unit >> 12], kHex[(unit >> 8) & 0xF], kHex[(unit >> 4) & 0xF],
                           kHex[unit & 0xF]}) {
        bytes.push_back(static_cast<std::uint8_t>(c));
      }
    }
  }
  return bytes;
}

}  // namespace

std::string AgentCtrl_Upload::UploaderCommandLine() const {
  std::string line = "\"" + moduleFolder_ + std::string(kUploaderName) + "\" --poolpath \"";
  line += pool_.Folder();
  line += "\" --rcount 6 --rseconds 10 --messagehide --configpath \"";
  line += moduleFolder_ + std::string(kConfigName) + "\"";
  return line;
}

std::string AgentCtrl_Upload::UploaderConfigText(std::string_view macAddress) const {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
  if (status_.GetDword("ProxyEnable") == 1) {
    (void)status_.GetString("ProxyServer", host);
    port = std::to_string(status_.GetDwordOr("ProxyPort", 0));
    (void)status_.GetString("ProxyUser", user);
    // A password that cannot be decrypted is left out; the proxy is then tried without one.
    (void)CCryptString(os_).DecryptRegistryValue(password, kStatusKey, "ProxyPassword");
  }
  std::string json = "{";
  AppendMember(json, "device_id", FormatDeviceId(deviceId_));
  AppendMember(json, "mac_address", macAddress);
  AppendMember(json, "proxy_host", host);
  AppendMember(json, "proxy_port", port);
  AppendMember(json, "proxy_user", user);
  AppendMember(json, "proxy_password", password);
  json += '}';
  return json;
}

bool AgentCtrl_Upload::WriteUploaderConfig(std::string_view macAddress) {
  const std::vector<std::uint8_t> ansi = JsonToAnsi(os_.system, UploaderConfigText(macAddress));
  const std::string encoded = Base64Encode(ansi);
  std::vector<std::uint8_t> bytes{0xEF, 0xBB, 0xBF};
  bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  // The file holds the proxy password: it is readable by SYSTEM and Administrators only, from
  // its first byte on. It is written beside the old one and renamed over it, so an uploader
  // reading it meanwhile finds the old text or the new, never part of one.
  const std::string path = moduleFolder_ + std::string(kConfigName);
  const std::string temporary = path + std::string(kConfigTemporarySuffix);
  (void)os_.files.RemoveFile(temporary);  // left by a run that ended between the two steps
  os::OsError error = os_.files.WriteNewSecuredFile(temporary, bytes, os::kSystemAndAdminsFile);
  if (error == os::kSuccess) {
    error = os_.files.ReplaceWith(temporary, path);
    if (error != os::kSuccess) (void)os_.files.RemoveFile(temporary);
  }
  if (error != os::kSuccess) {
    log_.SystemCallError(event_id::kUploaderConfigWriteFailed, "アップローダー設定ファイルの作成に失敗しました。", error);
    return false;
  }
  return true;
}

bool AgentCtrl_Upload::LaunchUploader(std::string_view macAddress) {
  if (!os_.files.FileExists(moduleFolder_ + std::string(kUploaderName))) {
    log_.Error(event_id::kUploaderMissing, "Orvaneアップローダーが見つかりません。");
    return false;
  }
  if (!os_.files.DirectoryExists(pool_.Folder())) {
    log_.Error(event_id::kPoolMissing, "メッセージプールが見つかりません。");
    return false;
  }
  // Rewritten even when an uploader still runs, so the next run sees the newest settings.
  if (!WriteUploaderConfig(macAddress)) return false;
  if (uploaderThread_ && !uploaderThread_->Join(0)) return true;  // one uploader at a time
  uploaderThread_.reset();
  if (!uploaderStop_) return true;  // no stop event: the thread would end at once, unstarted
  // The thread gets its own copies and shares only the held failure, so a thread left running
  // at stop never touches this object.
  auto thread = os_.sync.StartThread([ports = os_, log = log_, held = heldUploaderError_,
                                      commandLine = UploaderCommandLine(), folder = moduleFolder_] {
    RunUploader(ports, log, *held, commandLine, folder);
  });
  uploaderThread_ = std::move(thread).take();
  return true;
}

void AgentCtrl_Upload::RunUploader(const os::OsPorts& os, const AgentEventLog& log,
                                   HeldUploaderError& held, const std::string& commandLine,
                                   const std::string& workingFolder) {
  os::ProcessStart start;
  start.commandLine = commandLine;
  start.workingFolder = workingFolder;
  start.hidden = false;  // the uploader decides itself what it shows (--messagehide: nothing)
  const os::OsResult<os::ChildProcess> process = os.processes.Launch(start);
  if (!process) return;  // silent: nothing ran, so there is no result to judge
  // A code that cannot be read is no sign of a failed run: it counts as success.
  const std::uint32_t exitCode = process->Wait(os::kInfinite) ? process->ExitCode().value_or(0) : 0;
  ReportUploaderResult(log, held, commandLine, exitCode);
}

bool AgentCtrl_Upload::StopUploader(std::uint32_t waitMs) {
  if (!uploaderThread_) return true;
  if (uploaderStop_) uploaderStop_->Set();
  // The uploader is never killed (a pool file it is sending would be lost); a hung one is left
  // running rather than keeping the service from stopping.
  const bool ended = uploaderThread_->Join(waitMs);
  uploaderThread_.reset();
  if (uploaderStop_) uploaderStop_->Reset();
  return ended;
}

}  // namespace orv
