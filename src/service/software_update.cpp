// SoftwareUpdate: asks the cloud for the newest agent and event definitions, installs a newer
// agent (download, unpack, signature) or replaces the definition file.
#include "service/software_update.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "report/agent_ctrl_upload.h"
#include "report/run_command.h"
#include "service/settings_notifier.h"
#include "service/test_mode.h"
#include "webapi/agent_ctrl_webapi.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {


constexpr std::string_view kWorkFolder = "C:\\Windows\\Temp\\ORVANE_UPDATE";
constexpr std::string_view kInstallerArguments = "/s /v\"/qn SILENTNAS=1\"";
constexpr std::array<std::string_view, 3> kAcceptedPublishers = {"Tavolen Co.,Ltd.", "MERIDEX CO.,LTD.",
                                                                 "MERIDEX CO., LTD."};
// Lets the settings program show the outcome before the installer stops the service.
constexpr std::uint32_t kInstallerStartDelayMs = 1000;
constexpr os::OsError kErrorInvalidName = 123;
constexpr os::OsError kErrorPathNotFound = 3;


struct SoftwareNotice {
  std::uint32_t result;
  std::string_view text;
};

SoftwareNotice NoticeFor(SoftwareCheck outcome) {
  switch (outcome) {
    case SoftwareCheck::RegistrationFailed: return {0, "登録情報の取得に失敗しました。"};
    case SoftwareCheck::RequestFailed: return {0, "最新ソフトウェア情報の取得に失敗しました。"};
    case SoftwareCheck::Current: return {0, "既に最新版です。"};
    case SoftwareCheck::UpdateFailed: return {0, "アップデートに失敗しました。"};
    case SoftwareCheck::DefinitionFailed: return {0, "定義ファイルの更新に失敗しました。"};
    default: return {1, ""};
  }
}

// A version text read as a decimal number the way the cloud and the agent compare them
// ("1.9" is newer than "1.10"); an empty or non-numeric text counts as 0.
double VersionNumber(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  return error == std::errc() ? value : 0;
}

std::string TextBetween(std::string_view text, std::string_view open, std::string_view close) {
  const auto start = text.find(open);
  const auto stop = text.find(close);
  if (start == std::string_view::npos || stop == std::string_view::npos) return {};
  const auto from = start + open.size();
  return stop > from ? std::string(text.substr(from, stop - from)) : std::string();
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The server names the downloaded file; it must stay one plain name inside the work folder.
bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
  return name.find_first_of("\\:/<>\"|?*") == std::string_view::npos &&
         std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool IsTrustedOwner(os::PathOwner owner) {
  return owner == os::PathOwner::System || owner == os::PathOwner::Administrators || owner == os::PathOwner::Self;
}

// The scheme as the download reads it: "https" anywhere else in the address is no scheme.
bool HasHttpsScheme(std::string_view url) { return url.starts_with("https://"); }

}  // namespace

SoftwareCheck SoftwareUpdate::End(SoftwareCheck outcome, std::string_view suffix) {
  const SoftwareNotice notice = NoticeFor(outcome);
  service::PipeNotice record;
  record.result = notice.result;
  record.text = std::string(notice.text) + std::string(suffix);
  // The settings program may not be listening; the outcome is in the event log all the same.
  SettingsNotifier(os_).Notify(record);
  return outcome;
}

bool SoftwareUpdate::IsTestSwitch(std::string_view name) { return service::IsTestMode(name, os_.files, os_.system); }

SoftwareCheck SoftwareUpdate::Check(AgentCtrl_Upload& upload) {
  AgentCtrl_WebAPI client(os_, registration_.UseProductionHost());
  registration_.PrepareClient(client, upload);
  const int registrationAnswered = client.Request(kRequestRegistrationData);
  if (registrationAnswered == 0 || client.Response().status != 200) {
    LogRequestFailure(log_, client, registrationAnswered != 0, event_id::kRegistrationTransportFailed, event_id::kRegistrationFailed,
                      "登録情報の取得中に通信エラーが発生しました。", "登録情報の取得に失敗しました。");
    return End(SoftwareCheck::RegistrationFailed);
  }

  if (IsTestSwitch("SVS_TESTMODE_8")) {
    std::string id = client.DeviceIdText();
    id.resize(id.size() >= 2 ? id.size() - 2 : 0);
    client.SetDeviceIdText(std::move(id));
  }
  const int softwareAnswered = client.Request(kRequestLatestSoftware);
  if (softwareAnswered == 0 || client.Response().status != 200) {
    LogRequestFailure(log_, client, softwareAnswered != 0, event_id::kSoftwareTransportFailed, event_id::kSoftwareFailed,
                      "最新ソフトウェア情報の取得中に通信エラーが発生しました。",
                      "最新ソフトウェア情報の取得に失敗しました。");
    return End(SoftwareCheck::RequestFailed);
  }

  const WebApiResponse answer = client.Response();
  const std::string newDefinitionVersion = TextBetween(answer.event_def, "<ver>", "</ver>");
  if (IsTestSwitch("SVS_TESTMODE_4") || IsTestSwitch("SVS_TESTMODE_5")) {
    return End(SoftwareCheck::UpdateFailed, "(STUB)");
  }
  const bool agentUpdate = VersionNumber(answer.agt_ver) > VersionNumber(upload.AgentVersion());
  const bool definitionUpdate =
      !newDefinitionVersion.empty() &&
      VersionNumber(newDefinitionVersion) > VersionNumber(upload.EventDefinitions().GetVersion());
  if (!agentUpdate && !definitionUpdate) return End(SoftwareCheck::Current);

  if (agentUpdate) {
    std::string installer;
    std::unique_ptr<os::ReadHold> unchanged;  // released once the installer has started
    if (!Install(upload, client, installer, unchanged)) return End(SoftwareCheck::UpdateFailed);
    End(SoftwareCheck::InstallerStarted);
    log_.Information(event_id::kUpdateStarted, "アップデートを開始しました。");
    os_.clock.Sleep(kInstallerStartDelayMs);
    os::ProcessStart start;
    start.commandLine = "\"" + installer + "\" " + std::string(kInstallerArguments);
    start.hidden = false;  // started as the installer expects, like any program
    if (const auto launched = os_.processes.Launch(start); !launched) {
      // Ending now would leave the appliance without an agent: keep running and say why.
      log_.SystemCallError(event_id::kInstallerMissing, "アップデートに失敗しました。\nアップデーターが見つかりません。",
                           launched.error());
      return End(SoftwareCheck::UpdateFailed);
    }
    return SoftwareCheck::InstallerStarted;
  }

  os::OsError error = os::kSuccess;
  if (!upload.WriteEventDefinition(answer.event_def, &error)) {
    log_.SystemCallError(event_id::kDefinitionWriteFailed, "イベント定義ファイルの作成に失敗しました。", error);
    return End(SoftwareCheck::DefinitionFailed);
  }
  upload.Initialize();
  if (upload.EventDefinitions().GetLoadStatus() != AgentCtrl_ConfigFile::kLoaded) {
    return End(SoftwareCheck::DefinitionFailed);
  }
  log_.Information(event_id::kDefinitionUpdateStarted, "定義ファイルの更新を開始しました。");
  return End(SoftwareCheck::DefinitionReplaced);
}

bool SoftwareUpdate::Install(AgentCtrl_Upload& upload, AgentCtrl_WebAPI& client, std::string& installer,
                             std::unique_ptr<os::ReadHold>& unchanged) {
  installer.clear();
  unchanged.reset();
  const std::string work(kWorkFolder);
  std::unique_ptr<os::HeldPath> workHeld;
  if (!MakeWorkFolder(work, workHeld)) return false;

  const std::string& url = client.Response().agt_url;
  const std::string fileName = url.substr(url.find_last_of('/') == std::string::npos ? 0 : url.find_last_of('/') + 1);
  if (!IsSafeFileName(fileName)) {
    log_.SystemCallError(event_id::kUpdateFileFailed, "アップデートファイル作成中にエラーが発生しました。", kErrorInvalidName);
    return false;
  }
  const auto zipAt = fileName.find(".zip");
  const bool archive = zipAt != std::string::npos;
  const std::string archiveName = archive ? fileName.substr(0, zipAt) + fileName.substr(zipAt + 4) : fileName;

  // When the cloud is reached over TLS, the installer comes that way too: over plain HTTP
  // anyone on the path could hand over an older installer, still validly signed, with the
  // flaws its successor mends.
  if (client.UsesTls() && !HasHttpsScheme(url)) {
    log_.SystemCallError(event_id::kDownloadFailed, "アップデートファイル取得中に通信エラーが発生しました。",
                         os::kErrorAccessDenied, AgentCtrl_WebAPI::kErrorModuleName);
    return false;
  }
  if (client.Download(url) == 0) {
    if (client.LastError() == os::kErrorHttpCancelled) return false;  // the service is stopping
    log_.SystemCallError(event_id::kDownloadFailed, "アップデートファイル取得中に通信エラーが発生しました。",
                         client.LastError(), AgentCtrl_WebAPI::kErrorModuleName);
    return false;
  }
  const std::string downloaded = work + "\\" + fileName;
  const os::OsError writeError = os_.files.WriteWholeFile(downloaded, client.DownloadBuffer(), os::CreateMode::NewOnly);
  if (writeError != os::kSuccess) {
    log_.SystemCallError(event_id::kUpdateFileFailed, "アップデートファイル作成中にエラーが発生しました。", writeError);
    return false;
  }
  const auto missing = [this] {
    log_.Error(event_id::kInstallerMissing, "アップデートに失敗しました。\nアップデーターが見つかりません。");
    return false;
  };
  if (!os_.files.FileExists(downloaded)) return missing();

  std::string candidate = downloaded;
  if (archive) {
    if (!IsSafeFileName(archiveName)) return missing();
    const std::string command = "\"" + upload.ModuleFolder() + "ORVZIP.exe\" \"" + downloaded + "\" \"" + work + "\"";
    // Its output says nothing we act on; a stop abandons the update.
    (void)RunCommand(os_.processes, os_.system, command, stopRequested_);
    if (stopRequested_()) return false;
    candidate = work + "\\" + archiveName + "\\" + archiveName + ".exe";
  }
  if (!os_.files.FileExists(candidate)) return missing();
  // Held from before its check until it has started: no one can put other bytes under the
  // name in the meantime (the wait before the start is a whole second).
  auto held = os_.files.HoldForReading(candidate);
  if (!held) return missing();

  const auto rejected = [this] {
    log_.Error(event_id::kSignatureRejected, "アップデートに失敗しました。\n署名が確認できません。");
    return false;
  };
  // A publisher's name alone can be forged by anyone who makes a certificate: the signature
  // must also be valid and chain to a root the system trusts, or the file runs as LocalSystem.
  // The name is the one of the signer that verification accepted.
  os::SignerNames verified;
  os::OsError signatureError = os::kSuccess;
  if (!os_.crypto.VerifySignature(candidate, verified, signatureError)) return rejected();
  const std::string signer = AsciiUpper(verified.subject);
  const bool accepted = std::any_of(kAcceptedPublishers.begin(), kAcceptedPublishers.end(),
                                    [&signer](std::string_view publisher) { return AsciiUpper(publisher) == signer; });
  if (!accepted) return rejected();
  installer = candidate;
  unchanged = std::move(held).take();
  return true;
}

bool SoftwareUpdate::MakeWorkFolder(const std::string& work, std::unique_ptr<os::HeldPath>& held) {
  const auto failed = [this](os::OsError error) {
    log_.SystemCallError(event_id::kUpdateFileFailed, "アップデートファイル作成中にエラーが発生しました。", error);
    return false;
  };
  // The work folder lies where users may create folders. What is there is judged by what the
  // open handle tells: a junction is removed as a link; a folder someone else owns is moved
  // aside whole, never walked (its content is theirs to point anywhere); only a folder of ours
  // is emptied, and moved aside when it cannot be removed.
  if (auto old = os_.files.HoldPath(work)) {
    os::OsError error = os::kSuccess;
    if (old->IsLink() || IsTrustedOwner(old->Owner())) error = RemoveHeld(work, *old);
    if (!old->IsLink() && (error != os::kSuccess || !IsTrustedOwner(old->Owner()))) {
      error = old->MoveTo(work + "." + std::to_string(os_.clock.MillisecondsSinceStart()));
    }
    if (error != os::kSuccess) return failed(error);
  } else if (old.error() != os::kErrorFileNotFound && old.error() != kErrorPathNotFound) {
    return failed(old.error());
  }
  if (const os::OsError error = os_.files.MakePrivateDirectory(work); error != os::kSuccess) return failed(error);
  auto made = os_.files.HoldPath(work);
  if (!made) return failed(made.error());
  // Made here and now, so ours: any other owner means it is not the folder this call made.
  if (made->IsLink() || !IsTrustedOwner(made->Owner())) return failed(os::kErrorInvalidOwner);
  held = std::move(made).take();
  return true;
}

void SoftwareUpdate::RemoveTree(const std::string& folder) {
  if (auto held = os_.files.HoldPath(folder)) (void)RemoveHeld(folder, *held);
}

os::OsError SoftwareUpdate::RemoveHeld(const std::string& path, os::HeldPath& held) {
  // Link or folder is what the handle says, not the listing: a folder swapped for a junction
  // after its parent was listed is removed as the link it has become. Held, it cannot be
  // swapped while it is emptied.
  if (!held.IsLink()) {
    std::vector<os::FileEntry> entries;
    if (os_.files.ListDirectory(path, entries) == os::kSuccess) {
      for (const os::FileEntry& entry : entries) {
        const std::string child = path + "\\" + entry.name;
        if (entry.isDirectory || entry.isLink) {
          RemoveTree(child);
        } else {
          (void)os_.files.RemoveFile(child);
        }
      }
    }
  }
  return held.Remove();
}

}  // namespace orv
